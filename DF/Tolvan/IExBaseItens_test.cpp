// A run of values and its texts go out in few writes; the files must hold
// exactly what writing them one record and one text at a time would leave.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "IExBase.h"
#include "IExTeste.h"
#include "ZelArqMarcaFila.h"
#include "ZelMutexNomeado.h"

namespace {
constexpr UINT kMuitos = 4096 * 2 + 5;  // more records than one write takes

class IExItensEmBloco : public IExTeste {
 protected:
  void SetUp() override {
    IExTeste::SetUp();
    ASSERT_EQ(m_ie.Inicializa("EMP1", 3, 77), S_OK);
    ASSERT_EQ(m_arq.Abre('G', IE_PROCESSO_FN_CRE), S_OK);
    ASSERT_EQ(m_copia.Abre('G', IE_PROCESSO_FN_CRE), S_OK);
  }
  void TearDown() override {
    m_arq.Fecha();
    m_copia.Fecha();
    m_ie.Finaliza();
    ZelExcluiMutexNomeado(CZelArqMarcaFila::NomeMutex(m_sVovi, IZelArqMarcaEnum::VoviDadi));
  }
  // The values of record i: every third a text, some empty, the rest numbers.
  std::vector<IE_CAMPO_DATA_PS> Valores(UINT n, size_t nTamanhoTexto) {
    m_aTextos.assign(n, std::string());
    std::vector<IE_CAMPO_DATA_PS> a(n);
    for (UINT i = 0; i < n; ++i) {
      if (i % 3 == 0) {
        if (i % 7 != 0) m_aTextos[i] = std::string(nTamanhoTexto + i % 11, static_cast<char>('a' + i % 26));
        a[i] = IEValor(static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_TEXTO_0 + i % 5), 0, m_aTextos[i].c_str());
      } else {
        a[i] = IEValor(static_cast<IE_E_CAMPO>(251), 0x1000000000ull + i);
      }
    }
    return a;
  }
  // The same values written the old way into the copy's files: each text
  // appended alone, then each record at its own position.
  void GravaUmAUm(std::vector<IE_CAMPO_DATA_PS> a, UI4 iPtr) {
    std::vector<IE_CAMPO_DATA_ARQ_V2> aRegs(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
      IEConverte(a[i], &aRegs[i]);
      if (i % 3 != 0) continue;
      std::memset(aRegs[i].BinaryData, 0, sizeof aRegs[i].BinaryData);
      if (!m_aTextos[i].empty()) {
        ASSERT_EQ(m_copia.GravaTexto(m_aTextos[i], &aRegs[i]), 0);
      }
    }
    for (size_t i = 0; i < aRegs.size(); ++i) {
      ULONG ulPos = iPtr == 0 && i == 0 ? 0 : iPtr + static_cast<ULONG>(i);
      ASSERT_EQ(m_copia.Grava(&aRegs[i], &ulPos), 0);
      if (i == 0) iPtr = ulPos;
    }
  }
  CIExBaseTeste m_ie;
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> m_arq{&m_ie};
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> m_copia{&m_ie, ".cop"};
  std::vector<std::string> m_aTextos;
};

TEST_F(IExItensEmBloco, LongasCorridasETextosDaoOsMesmosBytesQueUmAUm) {
  // Texts past a megabyte in all, and a partial record left by a crash at
  // the end of both value files (before they were opened again): the run
  // takes its place.
  m_arq.Fecha();
  m_copia.Fecha();
  for (const char* szNome : {"FNIEXCRE.DAT", "FNIEXCRE.cop"}) {
    std::string s = Bytes(szNome);
    Escreve(szNome, s + IEBytes(IE_CAMPO_DATA_ARQ_V2{}) + std::string(20, 'x'));
  }
  std::vector<IE_CAMPO_DATA_PS> a = Valores(kMuitos, 500);
  UI4 iPtr = 0;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, kMuitos, &iPtr, a.data()), S_OK);
  EXPECT_EQ(iPtr, 2u);
  GravaUmAUm(Valores(kMuitos, 500), 0);
  ASSERT_GT(Bytes("FNIEXCREText.DAT").size(), 1u << 20);
  EXPECT_TRUE(Bytes("FNIEXCRE.DAT") == Bytes("FNIEXCRE.cop"));
  EXPECT_TRUE(Bytes("FNIEXCREText.DAT") == Bytes("FNIEXCREText.cop"));
  // The caller's array holds what it would have held.
  EXPECT_EQ(a[3].pcTexto, nullptr);
  EXPECT_EQ(a[kMuitos - 2].id, 251);

  // Rewritten in place from the second record, running past the end.
  a = Valores(kMuitos, 9);
  iPtr = 3;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, kMuitos, &iPtr, a.data()), S_OK);
  EXPECT_EQ(iPtr, 3u);
  GravaUmAUm(Valores(kMuitos, 9), 3);
  EXPECT_EQ(Bytes("FNIEXCRE.DAT").size(), (2u + kMuitos + 1) * sizeof(IE_CAMPO_DATA_ARQ_V2));
  EXPECT_TRUE(Bytes("FNIEXCRE.DAT") == Bytes("FNIEXCRE.cop"));
  EXPECT_TRUE(Bytes("FNIEXCREText.DAT") == Bytes("FNIEXCREText.cop"));

  IE_CAMPO_DATA_PS* pLidos = nullptr;
  ASSERT_EQ(m_ie.LeArrayItensWithText(m_arq, 3, kMuitos, &pLidos), S_OK);
  for (UINT i : {0u, 3u, 7u, kMuitos - 2}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pLidos[i].pcTexto == nullptr ? std::string() : std::string(pLidos[i].pcTexto), m_aTextos[i]);
  }
  IELiberaItens(pLidos, kMuitos);
}

TEST_F(IExItensEmBloco, FalhaDosTextosOuDosValoresDizQualENaoDeixaRegistroNovo) {
  std::vector<IE_CAMPO_DATA_PS> a = Valores(10, 5);
  UI4 iPtr = 0;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, 10, &iPtr, a.data()), S_OK);
  m_arq.Fecha();
  struct Caso {
    const char* szSomenteLeitura;
    const char* szTrace;
  };
  for (const Caso& c : {Caso{"FNIEXCREText.DAT", "arq.GravaTexto(sTexto, reg)"},
                        Caso{"FNIEXCRE.DAT", "arq.Grava(&reg, &lPosGrava)"}}) {
    SCOPED_TRACE(c.szSomenteLeitura);
    const std::string sValores = Bytes("FNIEXCRE.DAT");
    ASSERT_EQ(ZelDefineSomenteLeitura(m_sVovi + c.szSomenteLeitura, true), ERROR_SUCCESS);
    a = Valores(10, 5);
    iPtr = 0;
    EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 10, &iPtr, a.data()), IES_MAKE_HR(ZELARQ_SOMENTE_LEITURA));
    m_arq.Fecha();
    ZelDefineSomenteLeitura(m_sVovi + c.szSomenteLeitura, false);
    EXPECT_EQ(iPtr, 0u);
    EXPECT_TRUE(ErroContem(c.szTrace));
    EXPECT_EQ(Bytes("FNIEXCRE.DAT"), sValores);
  }
}
}  // namespace
