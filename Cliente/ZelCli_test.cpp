#include "ZelCli.h"

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ZelFalsoIEx.h"
#include "ZelLocalAtivacao.h"
#include "ZelLocalLimites.h"

using json = nlohmann::json;

namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistraFabrica();
    m_pCli = std::make_unique<CZelCli>(CLSCTX_INPROC_SERVER);
    m_nBlocos = CoTaskMemBlocosVivos();
  }
  void TearDown() override {
    m_pCli.reset();
    CoRevokeClassObject(m_cookie);
    // Every array the object handed out, nested ones too, was freed.
    EXPECT_EQ(CoTaskMemBlocosVivos(), m_nBlocos);
  }
  void RegistraFabrica() {
    ASSERT_EQ(CoRegisterClassObject(CLSID_ZelDF_IEx, CZelFalsoIEx::Fabrica(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie),
              S_OK);
  }
  json Chama(const std::string& sLinha, bool bBoa = true) {
    std::string s;
    EXPECT_EQ(m_pCli->Processa(sLinha, &s), bBoa) << sLinha << " -> " << s;
    return json::parse(s);
  }
  DWORD m_cookie = 0;
  int64_t m_nBlocos = 0;
  std::unique_ptr<CZelCli> m_pCli;
};

}  // namespace

TEST(ZelCliTexto, Cp1252IdaEVolta) {
  std::string todos;
  for (int i = 1; i < 256; ++i) todos += static_cast<char>(i);
  std::string volta;
  ASSERT_TRUE(ZelUtf8ParaCp1252(ZelCp1252ParaUtf8(todos), &volta));
  EXPECT_EQ(volta, todos);
  EXPECT_EQ(ZelCp1252ParaUtf8("Jo\xE3o \x80"), "Jo\xC3\xA3o \xE2\x82\xAC");
  EXPECT_EQ(ZelCp1252ParaUtf8("\x8C\x8A\x83"), "\xC5\x92\xC5\xA0\xC6\x92");  // past U+00FF, still two bytes
  EXPECT_FALSE(ZelUtf8ParaCp1252("\xE2\x98\x83", &volta));  // a snowman has no byte
  EXPECT_FALSE(ZelUtf8ParaCp1252("\xC3", &volta));          // cut sequence
  EXPECT_FALSE(ZelUtf8ParaCp1252("\xC3(", &volta));         // a lead byte and no continuation
  // U+0080 to U+009F are control characters, not the bytes 0x80-0x9F: only
  // the five the code page leaves undefined have a byte of their own.
  for (uint32_t cp = 0x80; cp < 0xA0; ++cp) {
    const std::string sUtf8{static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    const bool bBuraco = cp == 0x81 || cp == 0x8D || cp == 0x8F || cp == 0x90 || cp == 0x9D;
    std::string s = "<intocado>";
    EXPECT_EQ(ZelUtf8ParaCp1252(sUtf8, &s), bBuraco) << std::hex << cp;
    EXPECT_EQ(s, bBuraco ? std::string(1, static_cast<char>(cp)) : "<intocado>") << std::hex << cp;
  }
}

TEST_F(Cli, InicializaComValoresDeTrabalhoECrcCalculado) {
  EXPECT_EQ(Chama(R"({"metodo":"Inicializa_Padrao","regps":{"szEmpresa":"Empresa João"}})"),
            json::parse(R"({"hr":"0x00000000"})"));
  // Working values a session leaves out, as the service's log lines show them.
  const _REG_DF_INICIALIZAPS r = CZelFalsoIEx::UltimaSessao();
  EXPECT_EQ((std::vector<std::string>{r.szAplicativo, r.szModuleName, r.szArquivoFonte}),
            (std::vector<std::string>{"tolvan-cli", "tolvan-cli", "ZelCli.cpp"}));
  EXPECT_EQ(r.ulLinhaFonte, 1u);
  EXPECT_EQ(r.cControle, 'B');
  // Every field with its own sign, the texts in UTF-8, no filler.
  EXPECT_EQ(Chama(R"({"metodo":"GetUltimoErro"})")["pregErrops"],
            json::parse(R"({"cMensagem":"Última chamada: Inicializa_Padrao","hr":0,"iItem":-5,"iRegistro":-4,
                            "lCodigoCampo":-6,"lCodigoMensagem":-3,"nCodigoErro":1,"nModuloMensagem":65534,
                            "nTipoErro":-2,"szEmpresa":"Empresa João","usNumeroServidor":32775})"));
  EXPECT_EQ(Chama(R"({"metodo":"Inicializa_Padrao","regps":{"usVersaoMorvo":137}})")["hr"], "0x81080BFD");
  EXPECT_EQ(Chama(R"({"metodo":"Inicializa_Padrao","regps":{"uiCRC":1}})")["hr"], "0x81080C17");
  EXPECT_EQ(Chama(R"({"metodo":"Inicializa_Padrao"})")["hr"], "0x00000000");
  // The terminal-session byte is part of the record, checksum included.
  EXPECT_EQ(Chama(R"({"metodo":"Inicializa_Padrao","regps":{"cWTS":200}})")["hr"], "0x00000000");
  EXPECT_EQ(CZelFalsoIEx::UltimaSessao().cWTS, 200);
}

TEST_F(Cli, ArraysComContagemOmitidaSaidasParciaisEPonteiros) {
  json r = Chama(R"({"metodo":"LeIEHeader","pPos":[5,7,0],"dwFlags":16})");
  EXPECT_EQ(r["hr"], "0x80040101");
  ASSERT_EQ(r["pTipDoc"].size(), 3u);  // the count left out took the array's length
  EXPECT_EQ(r["pTipDoc"][0]["eProcesso"], 5);
  EXPECT_EQ(r["pTipDoc"][0]["pCampos"][0]["szNome"], "Descrição 5.0");
  EXPECT_EQ(r["pTipDoc"][1]["pCampos"][2]["pUsuarios"], json::parse("[102,103]"));
  EXPECT_EQ(r["pTipDoc"][2]["pCampos"], nullptr);
  EXPECT_EQ(r["pTipDoc"][1]["dwFlags"], 17);
  EXPECT_FALSE(r.contains("pPos"));  // [in] only
  EXPECT_EQ(Chama(R"({"metodo":"LeIEHeader","pPos":[1001]})")["pTipDoc"][0]["pCampos"][0]["szNome"],
            std::string(sizeof(IE_CAMPO_PS::szNome), 'N'));

  r = Chama(R"({"metodo":"BuscaVinculosByOrigem","lPosHeader":4,"pChaves":[14]})");
  ASSERT_EQ(r["pVinculos"][0]["pCampos"].size(), 2u);
  EXPECT_EQ(r["pVinculos"][0]["pCampos"][0]["pcTexto"], "Observação 14.0");
  EXPECT_EQ(r["pVinculos"][0]["pCampos"][1]["BinaryData"], "B136000000000000");  // 14001 in memory order, in capitals
  // One record through a pointer: its arrays are freed too (the fixture counts blocks).
  r = Chama(R"({"metodo":"GetVinculoByIntegracao","headerOrigem":{"eProc":1},"ulPosRegistroOrigem":14,
      "headerDestino":{"eProc":2,"ulPonteiro":4}})");
  ASSERT_EQ(r["pVinculo"]["pCampos"].size(), 3u);
  EXPECT_EQ(r["pVinculo"]["pCampos"][2]["pcTexto"], "Observação 14.2");
  // Unsigned 32-bit values keep their top half.
  r = Chama(R"({"metodo":"BuscaVinculosByOrigem","lPosHeader":4294967295,"pChaves":[2147483648]})");
  EXPECT_EQ(r["pVinculos"][0]["origem"], json::parse(R"({"lPosHeader":4294967295,"lChave":2147483648})"));

  // Null pointers, and a pointer to a pointer.
  EXPECT_EQ(Chama(R"({"metodo":"KeepAlive","pbOK":null})"), json::parse(R"({"hr":"0x80004003","pbOK":null})"));
  r = Chama(R"({"metodo":"FuncaoGenerica","ulFuncao":1,"regInps":{"pListaBytes":[1,2,255]}})");
  EXPECT_EQ(r["hr"], "0x00000000");
  EXPECT_EQ(r["ppregOutps"]["ulQtdBytes"], 3);
  EXPECT_EQ(r["ppregOutps"]["pListaBytes"], json::parse("[254,3,0]"));
  EXPECT_EQ(Chama(R"({"metodo":"FuncaoGenerica","ulFuncao":0})")["ppregOutps"], nullptr);
  r = Chama(R"({"metodo":"GravaVinculosCabecalhosIntegracao","pRegCabecalho":{"eProcessoOrigem":"IE_PROCESSO_FT_NF"},
      "pRegLista":{"pRegListaVinculos":[{"ulPosicaoCampoOrigem":1},{"cInativo":1}]}})");
  EXPECT_EQ(r["pRegCabecalho"]["ulQtdVinculosIntegracoes"], 2);
  EXPECT_EQ(r["pRegCabecalho"]["eProcessoOrigem"], 29);
}

TEST_F(Cli, RegistrosDeEntradaChegamComoNumaChamadaDireta) {
  // The same record built by hand and through the tool gives the same receipt.
  char texto[] = {'a', '\xE7'};
  IE_CAMPO_DATA_PS campos[2] = {
      {{}, {}, IE_CAMPO_LIVRE_TEXTO_0, 2, texto, nullptr},
      {{0x2A, 0, 0, 0, 0, 0, 0, 0x80}, {}, static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_V4_0 + 1), 0, nullptr, nullptr}};
  auto Direto = [](IE_VINCULO_PS v) {
    IZelDF_IEx* p = nullptr;
    EXPECT_EQ(CZelFalsoIEx::CriaInstancia(IID_IZelDF_IEx, reinterpret_cast<void**>(&p)), S_OK);
    char sz[16];
    std::snprintf(sz, sizeof sz, "0x%08X", static_cast<unsigned>(p->GravaCamposVinculo(v)));
    p->Release();
    return std::string(sz);
  };
  // A count given with the list is the one that travels.
  for (UI4 nQtd : {2u, 1u}) {
    json r = Chama(R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":7,"lChave":8},)" +
                   std::string(nQtd == 1 ? R"("nQtdCampos":1,)" : "") + R"("pCampos":[
        {"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"aç"},{"id":251,"BinaryData":"2a00000000000080"}]}})");
    EXPECT_EQ(r["hr"], Direto({{7, 8}, nQtd, {}, campos, nullptr})) << nQtd;
    EXPECT_NE(r["hr"], "0x00000000");
  }
  // A list given as null travels as a null pointer.
  EXPECT_EQ(Chama(R"({"metodo":"GravaCamposVinculo","vinculo":{"nQtdCampos":2,"pCampos":null}})")["hr"],
            Direto({{0, 0}, 2, {}, nullptr, nullptr}));
}

TEST_F(Cli, ReleaseECoCreateInstance) {
  EXPECT_EQ(Chama(R"({"metodo":"Release"})")["hr"], "0x00000000");
  EXPECT_EQ(CZelFalsoIEx::Vivos(), 0);
  EXPECT_EQ(Chama(R"({"metodo":"KeepAlive"})")["hr"], "0x800401FD");
  EXPECT_EQ(Chama(R"({"metodo":"CoCreateInstance"})")["hr"], "0x00000000");
  // A value given for a pure [out] parameter is not read.
  EXPECT_EQ(Chama(R"({"metodo":"KeepAlive","pbOK":"lixo"})"), json::parse(R"({"hr":"0x00000000","pbOK":1})"));
  // A creation that fails answers its own code, and so does every call after it.
  EXPECT_EQ(Chama(R"({"metodo":"Release"})")["hr"], "0x00000000");
  ASSERT_EQ(CoRevokeClassObject(m_cookie), S_OK);
  EXPECT_EQ(Chama(R"({"metodo":"CoCreateInstance"})")["hr"], "0x80040154");
  EXPECT_EQ(Chama(R"({"metodo":"KeepAlive"})")["hr"], "0x80040154");
  RegistraFabrica();
}

TEST_F(Cli, LinhasMalFormadasRespondemErroESeguem) {
  for (const char* sz : {R"(nada)", R"({"metodo":"Inexistente"})", R"({"pbOK":1})",
                         R"({"metodo":"KeepAlive","outro":1})", R"({"metodo":"ExisteVinculo","lPosHeader":-1})",
                         R"({"metodo":"ExisteVinculo","lPosHeader":4294967296})",
                         R"({"metodo":"LeIEHeader","qtd":1.5})", R"({"metodo":"GravaIEHeader","ps":{"pFiller":1}})",
                         R"({"metodo":"NotificaExclusaoOrigem","origem":{"lChav":1}})",
                         R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":null}})",
                         R"({"metodo":"GravaCamposVinculo","vinculo":{"pCampos":[null]}})",
                         R"({"metodo":"BuscaPtrsIEHeader","filtro":{"eProc":"IE_PROCESSO_NENHUM"}})",
                         R"({"metodo":"GravaCamposVinculo","vinculo":{"pCampos":[{"BinaryData":"12"}]}})",
                         R"({"metodo":"GravaCamposVinculo","vinculo":{"pCampos":[{"pcTexto":"☃"}]}})",
                         R"({"metodo":"Inicializa_Padrao","regps":{"szEmpresa":"0123456789012345678901234567890123456789012345678"}})",
                         R"({"metodo":"Release","pbOK":1})"}) {
    json r = Chama(sz, false);
    EXPECT_TRUE(r.contains("erro") && r.size() == 1) << sz;
  }
  // The error is the tool's own text, in UTF-8 as it stands.
  std::string sBruta;
  EXPECT_FALSE(m_pCli->Processa(R"({"metodo":"Inexistente"})", &sBruta));
  EXPECT_EQ(sBruta, "{\"erro\":\"m\xC3\xA9todo desconhecido \\\"Inexistente\\\"\"}");
  std::istringstream entrada("{\"metodo\":\"KeepAlive\"}\n\n \t\r\nruim\n{\"metodo\":\"ExisteVinculo\",\"lPosHeader\":2}\n");
  // Each answer leaves at once: a client may wait for it before its next line.
  struct Descarregada : std::stringbuf {
    int nDescargas = 0;
    int sync() override {
      ++nDescargas;
      return std::stringbuf::sync();
    }
  } buf;
  std::ostream saida(&buf);
  EXPECT_EQ(ZelCliExecuta(entrada, saida, CLSCTX_INPROC_SERVER), 2);
  EXPECT_EQ(buf.nDescargas, 3);
  std::istringstream linhas(buf.str());
  std::vector<json> respostas;
  for (std::string s; std::getline(linhas, s);) respostas.push_back(json::parse(s));
  ASSERT_EQ(respostas.size(), 3u);
  EXPECT_EQ(respostas[0]["pbOK"], 1);
  EXPECT_TRUE(respostas[1].contains("erro"));
  EXPECT_EQ(respostas[2]["hr"], "0x00000000");
}

// A value takes its type's whole range and no more; a text leaves room for its
// terminator; a count is weighed in bytes, so gigabyte arrays are refused.
TEST_F(Cli, ValoresNoLimiteDoTipoPassamEUmAlemNao) {
  static_assert(kZelLocalMaxSaidaChamada % sizeof(IE_HDR_PS) == 0);
  const auto nNoLimite = kZelLocalMaxSaidaChamada / sizeof(IE_HDR_PS);
  const std::string kVinculo = R"({"metodo":"GravaCamposVinculo","vinculo":{"pCampos":[{"BinaryData":")";
  const std::string kEmpresa = R"({"metodo":"Inicializa_Padrao","regps":{"szEmpresa":")" + std::string(47, 'E');
  const std::string kQtd = R"({"metodo":"LeIEHeader","qtd":)";
  const std::string kCampos = R"({"metodo":"GravaCamposVinculo","vinculo":{"pCampos":[],"nQtdCampos":)";
  const std::string kAlteracoes = R"({"metodo":"AlteracaoMultiplaCadastro","pulPonteiros":[],"ulQuantidade":)";
  // A line, and what its error names (null: no error).
  const std::pair<std::string, const char*> casos[] = {
      {R"({"metodo":"FuncaoGenerica","ulFuncao":1,"regInps":{"pListaBytes":[0,255]}})", nullptr},
      {R"({"metodo":"FuncaoGenerica","ulFuncao":1,"regInps":{"pListaBytes":[256]}})", ""},
      {R"({"metodo":"Inicializa_Padrao","regps":{"usVersaoMorvo":65535}})", nullptr},
      {R"({"metodo":"Inicializa_Padrao","regps":{"usVersaoMorvo":65536}})", ""},
      {R"({"metodo":"Inicializa_Padrao","regps":{"cControle":"B"}})", nullptr},
      {R"({"metodo":"Inicializa_Padrao","regps":{"cControle":"BB"}})", ""},
      {R"({"metodo":"Inicializa_Padrao","regps":{"cControle":""}})", "cControle: esperado um caractere"},
      {kVinculo + "00112233445566FF\"}]}}", nullptr},
      {kVinculo + "00112233445566FF00\"}]}}", "BinaryData: esperados 16 d\xC3\xADgitos hexadecimais"},
      {kVinculo + "0011223344556GFF\"}]}}", "BinaryData: d\xC3\xADgito hexadecimal inv\xC3\xA1lido"},
      {kVinculo + "+011223344556677\"}]}}", "BinaryData: d\xC3\xADgito hexadecimal inv\xC3\xA1lido"},
      {kEmpresa + "E\"}}", "szEmpresa"},
      {kEmpresa + "\"}}", nullptr},
      {kQtd + "4000000000}", "limite"},
      {kQtd + R"(4000000000,"pPos":[1]})", "limite"},
      {R"({"metodo":"GravaCamposVinculo","vinculo":{"nQtdCampos":4000000000,"pCampos":[]}})", "limite"},
      // A list inside an [in] record may pass what one call may return.
      {kCampos + std::to_string(kZelLocalMaxSaidaChamada / sizeof(IE_CAMPO_DATA_PS) + 1) + "}}", nullptr},
      {kCampos + std::to_string(kZelLocalMaxQuadro / sizeof(IE_CAMPO_DATA_PS) + 1) + "}}", "limite"},
      // An [in] list may fill a whole frame.
      {kAlteracoes + std::to_string(kZelLocalMaxQuadro / 4) + "}", nullptr},
      {kAlteracoes + std::to_string(kZelLocalMaxQuadro / 4 + 1) + "}", "limite"},
      // 64-bit pointers take their whole range, and no sign.
      {R"({"metodo":"AlteracaoMultiplaMovimento","pregPonteiros":[18446744073709551615,0,-0]})", nullptr},
      {R"({"metodo":"AlteracaoMultiplaMovimento","pregPonteiros":[0,-1]})",
       "pregPonteiros[1]: esperado um n\xC3\xBAmero n\xC3\xA3o negativo"},
      // A list is a list: neither a number nor an object stands for one.
      {R"({"metodo":"LeIEHeader","pPos":5})", "pPos: esperada uma lista"},
      {R"({"metodo":"LeIEHeader","pPos":{}})", "pPos: esperada uma lista"},
      {R"({"metodo":"GravaCamposVinculo","vinculo":{"pCampos":{}}})", "pCampos: esperada uma lista"},
  };
  for (const auto& [sLinha, szErro] : casos) {
    json r = Chama(sLinha, szErro == nullptr);
    ASSERT_EQ(r.contains("erro"), szErro != nullptr) << sLinha;
    if (szErro != nullptr) {
      EXPECT_NE(r["erro"].get<std::string>().find(szErro), std::string::npos) << r.dump();
    }
  }
  EXPECT_EQ(Chama(R"({"metodo":"GetUltimoErro"})")["pregErrops"]["szEmpresa"], std::string(47, 'E'));
  EXPECT_EQ(Chama(kQtd + std::to_string(nNoLimite) + "}")["pTipDoc"].size(), nNoLimite);
  EXPECT_NE(Chama(kQtd + std::to_string(nNoLimite + 1) + "}", false)["erro"].get<std::string>().find(
                " acima do limite de " + std::to_string(nNoLimite) + " elementos"),
            std::string::npos)
      << "the limit is told in elements";
  EXPECT_EQ(Chama(R"({"metodo":"LeIEHeader","qtd":3,"pPos":[1,2,3]})")["pTipDoc"].size(), 3u);
}
