#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Pardak.h"
#include "ZelArquivo.h"
#include "ZelCatalogoModulos.h"
#include "ZelDiretoriosSuite.h"
#include "ZelBaseParaRotinas.h"
#include "ZelLConx.h"
#include "ZelMensagem.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"
#include "ZelTesteAjudante.h"

namespace {
class CBaseTeste : public CZelBaseParaRotinas {
 public:
  int nInicializacoes = 0, nFinalizacoes = 0;
  HRESULT hrOnInicializa = S_OK;
  HRESULT OnInicializa() override {
    ++nInicializacoes;
    return hrOnInicializa;
  }
  HRESULT OnFinaliza() override {
    ++nFinalizacoes;
    return S_OK;
  }
};

void Grava(const std::string& sChave, const std::string& sNome, const std::string& sValor) {
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas + sChave, sNome, sValor), ERROR_SUCCESS);
}
}  // namespace

TEST(Pardak, NomesDosProcessosECampoParaPrimeiroDaFaixa) {
  for (auto [e, sz] : {std::pair(IE_PROCESSO_FN_CRE, "FN_CRE"), std::pair(IE_PROCESSO_NF_AER_NFS, "NF_AER_NFS"),
                       std::pair(IE_PROCESSO_COUNT, "?"), std::pair(static_cast<IE_E_PROCESSO>(-1), "?")})
    EXPECT_STREQ(IEGetNomeProcesso(e), sz) << e;
  for (auto [nCampo, ePrimeiro] : {std::pair(137, IE_CAMPO_LIVRE_TEXTO_0), std::pair(499, IE_CAMPO_CHECK_BOX),
                                   std::pair(int(IE_CAMPO_COUNT), IE_CAMPO_COUNT)}) {
    IE_E_CAMPO e = static_cast<IE_E_CAMPO>(nCampo);
    EXPECT_EQ(IEAlteraCampoParaPrimeiro(e), nCampo != IE_CAMPO_COUNT) << nCampo;
    EXPECT_EQ(e, ePrimeiro);
  }
}

TEST(ZelInicializador, CicloDeVidaEmDuasFases) {
  CBaseTeste base;
  EXPECT_FALSE(base.EstaInicializado());
  _REG_DF_INICIALIZAPS reg{};
  std::strcpy(reg.szEmpresa, "EMP1");
  reg.ulUsuario = 65535;
  EXPECT_EQ(base.Inicializa(reg), S_OK);
  EXPECT_TRUE(base.EstaInicializado());
  EXPECT_EQ(base.GetEmpresa(), "EMP1");
  EXPECT_EQ(base.GetUsuario(), PSEUDO_USUARIO);
  EXPECT_EQ(base.Inicializa(reg), S_OK);
  EXPECT_EQ(base.nInicializacoes, 1) << "OnInicializa runs once";
  EXPECT_EQ(base.Finaliza(), S_OK);
  EXPECT_FALSE(base.EstaInicializado());
  EXPECT_EQ(base.Finaliza(), S_OK);
  EXPECT_EQ(base.nFinalizacoes, 1) << "OnFinaliza runs only for a started object";

  CBaseTeste falha;
  falha.hrOnInicializa = E_ACCESSDENIED;
  EXPECT_EQ(falha.Inicializa("EMP1", 1, 2), E_ACCESSDENIED);
  EXPECT_FALSE(falha.EstaInicializado());
  // No company name is an empty one, not a crash; a session number keeps all its 32 bits.
  EXPECT_EQ(falha.Inicializa(static_cast<const char*>(nullptr), 1, 70000), E_ACCESSDENIED);
  EXPECT_EQ(falha.GetEmpresa(), "");
  EXPECT_EQ(falha.GetNumeroSessao(), 70000u);

  CBaseTeste filho;
  EXPECT_EQ(filho.Inicializa(static_cast<const IZelDF_Profiler*>(nullptr)), E_POINTER);
  EXPECT_FALSE(filho.EstaInicializado());
  EXPECT_EQ(filho.Inicializa(&base), S_OK);
  EXPECT_EQ(filho.GetEmpresa(), "EMP1") << "a child answers its owner's identity";

  // A company name that fills its field, with no zero after it, is whole.
  CBaseTeste cheia;
  std::memset(reg.szEmpresa, 'E', sizeof reg.szEmpresa);
  EXPECT_EQ(cheia.Inicializa(reg), S_OK);
  EXPECT_EQ(cheia.GetEmpresa(), std::string(sizeof reg.szEmpresa, 'E'));
}

TEST(ZelBaseParaRotinas, AcessoDefaultPorThread) {
  CBaseTeste base;
  EXPECT_EQ(CZelBaseParaRotinas::GetAcessoServidoresDefault(), nullptr);
  CZelBaseParaRotinas::SetAcessoDefault(&base);
  EXPECT_EQ(CZelBaseParaRotinas::GetAcessoServidoresDefault(), base.GetAcessoServidores());
  std::thread([] { EXPECT_EQ(CZelBaseParaRotinas::GetAcessoServidoresDefault(), nullptr); }).join();
  { CBaseTeste outra; }  // another base's end leaves the default alone
  EXPECT_EQ(CZelBaseParaRotinas::GetAcessoServidoresDefault(), base.GetAcessoServidores());
  CZelBaseParaRotinas::SetAcessoDefault(nullptr);
  EXPECT_EQ(CZelBaseParaRotinas::GetAcessoServidoresDefault(), nullptr);
  {
    CBaseTeste passageira;  // a default that goes away takes its place with it
    CZelBaseParaRotinas::SetAcessoDefault(&passageira);
  }
  EXPECT_EQ(CZelBaseParaRotinas::GetAcessoServidoresDefault(), nullptr);
  EXPECT_EQ(base.FuncaoGenerica(1, {}, nullptr), E_NOTIMPL);
}

TEST(ZelBaseParaRotinas, LogsDaEmpresaEUsuarios) {
  std::string sDir = ZelNovoDiretorio("emp");
  Grava("\\Empresas\\EMP1", "DF", sDir);
  CBaseTeste base;
  ASSERT_EQ(base.Inicializa("EMP1", 3, 9), S_OK);
  EXPECT_EQ(base.GetAcessoServidores()->GetIdentificacao(), "ZelAcessoServidores EEMP1 U003 S00000009");
  EXPECT_EQ(CZelAcessoServidores(nullptr).GetIdentificacao(), "ZelAcessoServidores") << "no identity: the bare name";
  auto pEmp = base.GetAcessoServidores()->GetAcessoEmpresarial();
  EXPECT_TRUE(pEmp->GravaLogGeral("integracao excluida"));
  EXPECT_TRUE(pEmp->GravaLogGeral("segunda"));
  EXPECT_EQ(ZelLeArquivoInteiro(sDir + "ZelLogGeral.log"), "integracao excluida\nsegunda\n");
  CZelDadosDF_Log log;
  log.SetTipoRegistro(260);  // types, services and keys keep their full width
  log.SetServico(70000);
  log.SetChave(4000000000ul);
  log.SetLog("arquivo apagado");
  EXPECT_TRUE(pEmp->GravaLog(log));
  EXPECT_EQ(ZelLeArquivoInteiro(sDir + "ZelLogAuditoria.log"), "260\t70000\t4000000000\tU003\tarquivo apagado\n");
  {
    // A log another writer holds to itself is not written, and says so.
    CFile dono;
    ASSERT_TRUE(dono.Open(sDir + "ZelLogGeral.log", CFile::modeReadWrite | CFile::shareExclusive));
    EXPECT_FALSE(pEmp->GravaLogGeral("terceira"));
    EXPECT_EQ(ZelLeArquivoInteiro(sDir + "ZelLogGeral.log"), "integracao excluida\nsegunda\n");
  }
  {
    // Nor is a log on a full disk.
    std::string sCheio = ZelNovoDiretorio("cheio");
    Grava("\\Empresas\\CHEIA", "DF", sCheio);
    CBaseTeste cheia;
    ASSERT_EQ(cheia.Inicializa("CHEIA", 3, 9), S_OK);
    ASSERT_EQ(symlink("/dev/full", (sCheio + "ZelLogGeral.log").c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", (sCheio + "ZelLogAuditoria.log").c_str()), 0);
    EXPECT_FALSE(cheia.GetAcessoServidores()->GetAcessoEmpresarial()->GravaLogGeral("quarta"));
    EXPECT_FALSE(cheia.GetAcessoServidores()->GetAcessoEmpresarial()->GravaLog(log));
  }

  const std::string sLongo = "Maria Aparecida dos Santos Oliveira Pereira";  // comes back whole
  Grava("\\Usuarios", "3", sLongo);
  CZelDadosDF_Usuario usu;
  EXPECT_TRUE(pEmp->LeUsuario(3, &usu));
  EXPECT_EQ(usu.GetNome(), sLongo);
  Grava("\\Usuarios", "5", "");
  for (unsigned short us : {5, 8}) {  // a name left empty, and none at all
    EXPECT_TRUE(pEmp->LeUsuario(us, &usu));
    EXPECT_EQ(usu.GetNome(), "Usuario " + std::to_string(us));
  }
  EXPECT_EQ(ZelDiretorioDadosEmpresa("EMP1"), sDir) << "one separator at the end, not two";
  Grava("\\Empresas\\EMP2", "DF", sDir.substr(0, sDir.size() - 1));
  EXPECT_EQ(ZelDiretorioDadosEmpresa("EMP2"), sDir) << "registered without its separator: one is added";
  Grava("\\Empresas\\EMP3", "DF", "");
  EXPECT_EQ(ZelDiretorioDadosEmpresa("EMP3"), "") << "registered empty: none, not the root";
  const std::string sPrograma = ZelCaminhoPrograma();
  EXPECT_EQ(ZelDiretorioModulos(), sPrograma.substr(0, sPrograma.rfind('/') + 1)) << "none registered: the program's";
  for (const char* szModulos : {"/suite/modulos", "/suite/modulos/"}) {
    Grava("", "DiretorioModulos", szModulos);
    EXPECT_EQ(ZelDiretorioModulos(), "/suite/modulos/") << "registered: ends with one separator";
  }
  Grava("", "DiretorioModulos", "");

  // A company without a data directory has no logs, not even in the current directory.
  for (const char* sz : {"ZelLogGeral.log", "ZelLogAuditoria.log"}) std::remove(sz);
  CBaseTeste semEmpresa;
  ASSERT_EQ(semEmpresa.Inicializa("NENHUMA", 1, 1), S_OK);
  EXPECT_FALSE(semEmpresa.GetAcessoServidores()->GetAcessoEmpresarial()->GravaLogGeral("x"));
  EXPECT_FALSE(semEmpresa.GetAcessoServidores()->GetAcessoEmpresarial()->GravaLog(log));
  for (const char* sz : {"ZelLogGeral.log", "ZelLogAuditoria.log"}) EXPECT_FALSE(ZelExisteArquivo(sz)) << sz;
}

TEST(ZelDados, ErroCopiaTextosCortadosEAlteracaoCopiaOsBytes) {
  CZelUltimoErro erro;
  _REG_DF_ERROPS reg;
  std::memset(&reg, 0x7F, sizeof reg);
  erro.GetErro()->CopiarPara(&reg);  // nothing has failed yet
  EXPECT_EQ(reg.hr, S_OK);
  EXPECT_EQ(reg.nCodigoErro, 0);
  EXPECT_STREQ(reg.cMensagem, "");
  EXPECT_STREQ(reg.szEmpresa, "");
  erro.RegistraErro(E_FAIL, std::string(400, 'm'), std::string(60, 'e'));
  std::memset(&reg, 0x7F, sizeof reg);
  erro.GetErro()->CopiarPara(&reg);
  EXPECT_EQ(reg.hr, E_FAIL);
  EXPECT_EQ(reg.nCodigoErro, 0x4005);  // the code part of the HRESULT
  EXPECT_EQ(std::strlen(reg.cMensagem), sizeof reg.cMensagem - 1);
  EXPECT_EQ(std::strlen(reg.szEmpresa), sizeof reg.szEmpresa - 1);

  UI1 aBytes[3] = {1, 2, 3};
  _REG_CR_ALTERACAOPS alt{};
  alt.regDados.ulQtdBytes = 3;
  alt.regDados.pListaBytes = aBytes;
  alt.ulTipoAlteracao = 9;
  CZelDadosCR_Alteracao obj;
  obj.CopiarDe(&alt);
  aBytes[0] = 100;
  ASSERT_EQ(obj.GetBytes().size(), 3u);
  EXPECT_EQ(obj.GetBytes()[0], 1) << "the object keeps its own copy";
  EXPECT_EQ(obj.GetTipoAlteracao(), 9u);
  EXPECT_EQ(obj.GetRegistro().regDados.pListaBytes, obj.GetBytes().data());
  // A copy without bytes replaces the first, even when it counts some: nothing read through null.
  for (UI4 ulQtd : {0u, 3u}) {
    alt.regDados.ulQtdBytes = 3;
    alt.regDados.pListaBytes = aBytes;
    obj.CopiarDe(&alt);
    ASSERT_EQ(obj.GetBytes().size(), 3u);
    alt.regDados.ulQtdBytes = ulQtd;
    alt.regDados.pListaBytes = nullptr;
    obj.CopiarDe(&alt);
    EXPECT_TRUE(obj.GetBytes().empty()) << ulQtd;
    EXPECT_EQ(obj.GetRegistro().regDados.pListaBytes, nullptr) << ulQtd;
  }
  obj.CopiarDe(nullptr);  // no record: the last one stays
  EXPECT_EQ(obj.GetTipoAlteracao(), 9u);
  _REG_CR_ALTERACAOPS fora{};
  obj.CopiarPara(&fora);
  EXPECT_EQ(fora.ulTipoAlteracao, 9u);
  obj.CopiarPara(nullptr);  // nowhere to copy to: nothing happens

  CZelDadosDF_Texto texto;
  texto.SetTexto("primeiro");
  texto.SetTexto("segundo");
  EXPECT_EQ(texto.GetTexto(), "segundo") << "a text record holds the last text set";
}

TEST(ZelDados, UltimoErroDaCadaThreadSuaPropriaCopia) {
  CZelUltimoErro erro;
  erro.RegistraErro(E_FAIL, "primeiro", "EMP1");
  CZelDadosDF_Erro* pMeu = erro.GetErro();
  std::thread outra([&] {
    erro.RegistraErro(E_ACCESSDENIED, "segundo, mais longo que o primeiro", "EMP2");
    EXPECT_EQ(erro.GetErro()->GetMensagem(), "segundo, mais longo que o primeiro");
  });
  outra.join();
  EXPECT_EQ(pMeu->GetHr(), E_FAIL) << "another thread's look leaves this thread's copy alone";
  EXPECT_EQ(pMeu->GetMensagem(), "primeiro");
  EXPECT_EQ(erro.GetErro()->GetMensagem(), "segundo, mais longo que o primeiro");

  // Many readers and a writer at once: every copy is one whole error.
  erro.RegistraErro(E_FAIL, "a", "EMP1");
  std::atomic<bool> bFim{false};
  std::atomic<int> nRuins{0};
  std::vector<std::thread> leitores;
  for (int i = 0; i < 3; ++i)
    leitores.emplace_back([&] {
      while (!bFim) {
        _REG_DF_ERROPS reg{};
        erro.GetErro()->CopiarPara(&reg);
        const std::string s = reg.cMensagem;
        if (!((reg.hr == E_FAIL && s == "a") || (reg.hr == E_ACCESSDENIED && s == std::string(60, 'b')))) ++nRuins;
      }
    });
  for (int i = 0; i < 20000; ++i)
    erro.RegistraErro(i % 2 == 0 ? E_FAIL : E_ACCESSDENIED, i % 2 == 0 ? "a" : std::string(60, 'b'), "EMP1");
  bFim = true;
  for (auto& t : leitores) t.join();
  EXPECT_EQ(nRuins.load(), 0);
}

TEST(ZelLConx, ExportacoesPorNomeEAusencia) {
  Grava("\\ZelSDataBase\\Empresas\\EMP1", "1", "/dados/emp1/");
  auto pfn = reinterpret_cast<PFN_GetDiretorioDadosModulo>(ZelLConxProcuraExportacao("GetDiretorioDadosModulo"));
  ASSERT_NE(pfn, nullptr);
  std::string s;
  EXPECT_EQ(pfn(1, "EMP1", s), 0);
  EXPECT_EQ(s, "/dados/emp1/");
  Grava("\\ZelSDataBase\\Empresas\\EMP1", "4", "");
  // No company, a module missing, and one registered empty.
  for (const auto& [szEmpresa, nModulo, nCodigo] :
       std::initializer_list<std::tuple<const char*, int, int>>{{"", 1, 1}, {"EMP1", 2, 2}, {"EMP1", 4, 3}}) {
    EXPECT_EQ(pfn(nModulo, szEmpresa, s), nCodigo) << nModulo;
    EXPECT_TRUE(s.empty());
  }
  EXPECT_EQ(ZelLConxProcuraExportacao("Inexistente"), nullptr);
  ZelLConxDefineAusente(true);
  EXPECT_EQ(ZelLConxProcuraExportacao("GetDiretorioDadosModulo"), nullptr);
  ZelLConxDefineAusente(false);

  Grava("", "EmpresaLogada", "EMP1");
  EXPECT_EQ(ZelGetNomeEmpresaLogada(), "EMP1");
}

TEST(ZelMensagem, FacilidadesDaSuite) {
  for (int nFacility : {236, 264, 270}) EXPECT_TRUE(EhFacilityMT(nFacility)) << nFacility;
  for (int nFacility : {235, 271, 4}) EXPECT_FALSE(EhFacilityMT(nFacility)) << nFacility;
  std::string s = "lixo";
  ZelGetDescricaoHRESULT(s, HR(0x8004FFFF));
  EXPECT_EQ(s, "");
  // Texts in the suite's code page, as clients and error lines show them.
  for (const auto& [u, sz] :
       {std::pair(0x80004001u, "N\xE3o implementado"), std::pair(0x8007000Eu, "Mem\xF3ria insuficiente"),
        std::pair(0x81080BFDu, "Vers\xE3o incompat\xEDvel")}) {
    ZelGetDescricaoHRESULT(s, HR(u));
    EXPECT_EQ(s, sz) << std::hex << u;
  }
  // Every code the service and its runtime answer with has a text of its own.
  std::set<std::string> textos;
  for (uint32_t u : {0x80004001u, 0x80004002u, 0x80004003u, 0x80004005u, 0x80070005u, 0x8007000Eu, 0x80070057u,
                     0x8000FFFFu, 0x81080A04u, 0x81080AA8u, 0x81080BB1u, 0x81080BFDu, 0x81080C17u, 0x81080C19u,
                     0x80040A73u, 0x80040A74u, 0x80043E95u}) {
    ZelGetDescricaoHRESULT(s, HR(u));
    EXPECT_FALSE(s.empty()) << std::hex << u;
    textos.insert(s);
  }
  EXPECT_EQ(textos.size(), 17u);
}

TEST(ZelCatalogoModulos, CodigosSemDiferencaDeCaixa) {
  for (auto [sz, n] : {std::pair("df", 1), std::pair("Ne", 23), std::pair("XX", 0)})
    EXPECT_EQ(CZelCatalogoModulos::GetNumero(sz), n) << sz;
  // Every module of the suite, by its fixed number, both ways.
  const std::pair<int, const char*> kModulos[] = {{1, "DF"},  {2, "CB"},  {3, "ES"}, {4, "FN"}, {5, "FP"},
                                                  {6, "FT"},  {7, "CM"},  {8, "AT"}, {9, "CP"}, {10, "VD"},
                                                  {23, "NE"}, {26, "LF"}, {0, ""},   {11, ""},  {99, ""}};
  for (auto [n, sz] : kModulos) {
    EXPECT_EQ(CZelCatalogoModulos::GetCodigo(n), sz) << n;
    if (*sz != '\0') {
      EXPECT_EQ(CZelCatalogoModulos::GetNumero(sz), n) << sz;
    }
  }
}
