#include "ZelDataBase.h"

#include <sys/stat.h>

#include <memory>

#include <gtest/gtest.h>

#include "ZelDataBaseTeste.h"
#include "ZelDataBaseUtilT.h"

namespace {
class CBaseVersionada : public CZelDataBase {
 public:
  CBaseVersionada(ZelUShort usVersao) : CZelDataBase(kModuloTeste, "VERSAO.dat", usVersao) {}
  std::vector<int> aConversoes;
  int nFalharEm = -1, nShrinks = 0;
  HRESULT hrShrink = S_OK, hrPos = S_OK;
  HRESULT ExecutaConversao(int iVersao) override {
    aConversoes.push_back(iVersao);
    return iVersao == nFalharEm ? E_FAIL : S_OK;
  }
  HRESULT ExecutaShrink() override {
    ++nShrinks;
    return hrShrink;
  }
  HRESULT RotinaPosConversao() override { return hrPos; }
};

using ZelDataBaseTesteV = ZelDataBaseTeste;

std::string Versao(uint16_t v, uint16_t s) {
  REG_CR_ZELDATABASE_VERSAO r{};
  r.iVersaoBaseDados = v;
  r.usVersaoShrink = s;
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}
}  // namespace

TEST_F(ZelDataBaseTesteV, NomeRepetidoNaoERegistradoEArquivosDeletadosSemArquivoDeVersao) {
  Escreve({{"A.dat", std::string(24, 'a')}, {"B.dat", std::string(24, 'b')}});
  CBaseTeste db;
  CZelFile<REG_TESTE> a("A.dat", &db), repetido("a.DAT", &db), b("B.dat", &db);
  EXPECT_EQ(db.GetFiles().size(), 2u);
  EXPECT_EQ(db.GetFiles().begin()->second, &a);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_TRUE(a.EstaInicializado());
  EXPECT_FALSE(repetido.EstaInicializado());
  ASSERT_EQ(db.DeletaArquivos(false), S_OK);
  EXPECT_EQ(ZelListaArquivos(m_sEmpresa, "*"), std::vector<std::string>{"ZelLogAuditoria.log"}) << "no version file";
  EXPECT_TRUE(a.EstaInicializado()) << "live again over an absent file";
  EXPECT_EQ(a.GetQtdRegistros(), 0u);
  // The first failure, in name order, stops the deletions.
  Escreve({{"A.dat", std::string(24, 'a')}, {"B.dat", std::string(24, 'b')}});
  ASSERT_EQ(chmod(Caminho("A.dat").c_str(), 0444), 0);
  EXPECT_EQ(db.DeletaArquivos(false), HR(0x810809F2));
  EXPECT_EQ(Bytes("B.dat"), std::string(24, 'b'));
  // A file that outlives its database lets go of it, and its end calls nothing of it.
  auto pOutra = std::make_unique<CBaseTeste>();
  CZelFile<REG_TESTE> sozinho("S.dat", pOutra.get());
  EXPECT_EQ(sozinho.GetDataBase(), pOutra.get());
  pOutra.reset();
  EXPECT_EQ(sozinho.GetDataBase(), nullptr);
}

// A database moved to another module keeps its files in that module's directory.
TEST_F(ZelDataBaseTesteV, ModuloDaBaseValeParaCadaArquivo) {
  ZelCriaDiretorio(Caminho("NFe"));
  CBaseTeste db;
  CZelFile<REG_TESTE> arq("M.dat", &db);
  db.SetModulo(CZelCatalogoModulos::kModuloNFe);
  EXPECT_EQ(arq.GetModulo(), CZelCatalogoModulos::kModuloNFe);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ZelUInt uiPos = 0;
  ASSERT_EQ(arq.Grava(uiPos, Reg(1, 1)), S_OK);
  EXPECT_EQ(Bytes("NFe/M.dat"), BytesDe({Reg(1, 1)}));
  EXPECT_EQ(ZelListaArquivos(m_sEmpresa, "*"), std::vector<std::string>{"NFe"});
  EXPECT_EQ(ZelListaArquivos(Caminho("NFe/"), "*"), std::vector<std::string>{"M.dat"});
  // Opened again for writing, the file is listed in that module's directory.
  ASSERT_EQ(db.Finaliza(), S_OK);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(ZelListaArquivos(m_sEmpresa, "*"), std::vector<std::string>{"NFe"});
  EXPECT_EQ(ZelListaArquivos(Caminho("NFe/"), "*"), (std::vector<std::string>{"M.dat", "ZELDATABASE_FILE_CTRL.dat"}));
}

TEST_F(ZelDataBaseTesteV, CadeiaDeConversaoGravaCadaPasso) {
  // An interrupted chain records the step that failed, to resume there.
  for (const auto& [nFalha, hr, usVersao] : {std::tuple{-1, S_OK, 5}, {4, E_FAIL, 4}}) {
    Escreve("VERSAO.dat", Versao(3, 138));
    CBaseVersionada db(5);
    db.nFalharEm = nFalha;
    EXPECT_EQ(db.Inicializa("EMP1", 1, 1), hr);
    EXPECT_EQ(db.aConversoes, (std::vector<int>{3, 4}));
    EXPECT_EQ(Bytes("VERSAO.dat"), Versao(usVersao, 138)) << nFalha;
    EXPECT_EQ(db.nShrinks, 0);
  }
  // The routine after the chain failing stops the start too.
  CBaseVersionada depois(5);
  depois.hrPos = E_ABORT;
  EXPECT_EQ(depois.Inicializa("EMP1", 1, 1), E_ABORT);
}

TEST_F(ZelDataBaseTesteV, VersaoPosteriorOuArquivoDeVersaoComTamanhoErradoNaoIniciaArquivos) {
  Escreve("VERSAO.dat", Versao(6, 138));
  CBaseVersionada db(5);
  CZelFile<REG_TESTE> arq("D.dat", &db);
  EXPECT_EQ(db.Inicializa("EMP1", 1, 1), HR(0x810809C7));
  EXPECT_FALSE(arq.EstaInicializado());
  Escreve("VERSAO.dat", Versao(5, 139));
  CBaseVersionada db2(5);
  EXPECT_EQ(db2.Inicializa("EMP1", 1, 1), HR(0x81080E80));
  for (size_t n : {size_t{15}, size_t{17}}) {
    Escreve("VERSAO.dat", std::string(n, '\0'));
    CBaseTeste db;
    CZelFileSingleReg<REG_CR_ZELDATABASE_VERSAO> versao("VERSAO.dat", &db);
    EXPECT_EQ(db.Inicializa("EMP1", 1, 1), HR(0x810809E7)) << n;
  }
}

TEST_F(ZelDataBaseTesteV, ShrinkUmaVezPorRelease) {
  {
    CBaseVersionada falha(0);
    falha.hrShrink = E_FAIL;
    EXPECT_EQ(falha.Inicializa("EMP1", 1, 1), E_FAIL);
    EXPECT_FALSE(Existe("VERSAO.dat")) << "a failed shrink is not recorded";
  }
  CBaseVersionada db(0);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(db.nShrinks, 1);
  EXPECT_EQ(Bytes("VERSAO.dat"), Versao(0, 138));
  ASSERT_EQ(db.Finaliza(), S_OK);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(db.nShrinks, 1);
  // A kind with nothing to shrink opens all the same, and the release is recorded.
  CZelDataBase simples(kModuloTeste, "SIMPLES.dat", 0);
  ASSERT_EQ(simples.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(Bytes("SIMPLES.dat"), Versao(0, 138));
}

TEST_F(ZelDataBaseTesteV, RegistroDeVersaoIgualNaoEGravado) {
  Escreve("VERSAO.dat", Versao(2, 138));
  CBaseTeste db;
  CZelFileSingleReg<REG_CR_ZELDATABASE_VERSAO> versao("VERSAO.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  versao.FechaArquivo();
  versao.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao);
  ASSERT_EQ(ZelDefineSomenteLeitura(Caminho("VERSAO.dat"), true), ERROR_SUCCESS);
  REG_CR_ZELDATABASE_VERSAO r{};
  ASSERT_EQ(versao.Le(&r), S_OK);
  EXPECT_EQ(r.iVersaoBaseDados, 2);
  EXPECT_EQ(versao.Grava(r), S_OK) << "nothing to write, so the read-only file is no obstacle";
  ZelDefineSomenteLeitura(Caminho("VERSAO.dat"), false);
  r.iVersaoBaseDados = 3;
  EXPECT_EQ(versao.Grava(r), S_OK);
  EXPECT_EQ(Bytes("VERSAO.dat"), Versao(3, 138));
  REG_CR_ZELDATABASE_VERSAO lido{};
  ASSERT_EQ(versao.Le(&lido), S_OK);
  EXPECT_EQ(lido.iVersaoBaseDados, 3) << "the object reads back what it wrote";
  // The same through the files' common face: one record wherever asked.
  CZelFileBase& arq = versao;
  EXPECT_EQ(arq.GetNomeEstrutura(), "REG_CR_ZELDATABASE_VERSAO");
  EXPECT_EQ(arq.GetQtdRegistros(), 1u);
  r.iVersaoBaseDados = 4;
  ASSERT_EQ(arq.SetArrayData(sizeof r, &r), S_OK);
  EXPECT_EQ(Bytes("VERSAO.dat"), Versao(4, 138));
  r.iVersaoBaseDados = 5;
  ASSERT_EQ(arq.SetRegData(9, &r), S_OK);
  EXPECT_EQ(Bytes("VERSAO.dat"), Versao(5, 138));
  EXPECT_EQ(std::memcmp(arq.GetPtrArray(), &r, sizeof r), 0);
  EXPECT_EQ(arq.GetPtrRegistro(9), arq.GetPtrArray());
  versao.FechaArquivo();
  EXPECT_EQ(arq.GetQtdRegistros(), 0u) << "a closed file holds nothing";
}
