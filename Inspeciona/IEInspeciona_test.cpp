#include "IEInspeciona.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "IExTeste.h"
#include "Pardak.h"
#include "ZelCli.h"
#include "ZelRegistro.h"
#include "ZelTesteAjudante.h"

using json = nlohmann::json;

namespace {
struct Resultado {
  int iSaida;
  std::string sSaida, sErros;
};

class InspecaoTeste : public IExTeste {
 protected:
  void SetUp() override {
    IExTeste::SetUp();
    ASSERT_EQ(m_ie.Inicializa("EMP1", 1, 1), S_OK);
  }

  static Resultado Executa(std::vector<std::string> aArgs) {
    std::ostringstream saida, erros;
    int i = IEInspecionaExecuta(aArgs, saida, erros);
    return {i, saida.str(), erros.str()};
  }
  // The standard output of a run that must end with iSaida.
  static std::string Saida(std::vector<std::string> aArgs, int iSaida = kInspecaoOk) {
    const Resultado r = Executa(std::move(aArgs));
    EXPECT_EQ(r.iSaida, iSaida) << r.sErros;
    return r.sSaida;
  }
  // The JSON lines of a command on EMP1.
  static std::vector<json> Json(std::vector<std::string> aComando, int iSaidaEsperada = kInspecaoOk) {
    aComando.insert(aComando.begin(), {"--json", "EMP1"});
    std::vector<json> a;
    std::istringstream linhas(Saida(std::move(aComando), iSaidaEsperada));
    for (std::string s; std::getline(linhas, s);) {
      a.push_back(json::parse(s));
      // One compact object a line, texts as UTF-8 rather than escapes.
      EXPECT_EQ(nlohmann::ordered_json::parse(s).dump(), s);
    }
    return a;
  }
  // The problems verifica finds, as "file record: problem".
  static std::vector<std::string> Problemas() {
    std::vector<std::string> a;
    for (const json& o : Json({"verifica"}, kInspecaoProblemas))
      a.push_back(o["arquivo"].get<std::string>() + " " +
                  (o["registro"].is_null() ? std::string("-") : std::to_string(o["registro"].get<int64_t>())) + ": " +
                  o["problema"].get<std::string>());
    return a;
  }

  HRESULT Grava(UI4 lPosHeader, UI4 lChave, std::vector<IE_CAMPO_DATA_PS> aValores) {
    return IEGravaValores(m_ie, lPosHeader, lChave, std::move(aValores));
  }

  // Some of everything, written through the service: a header rewritten with
  // more fields, users, a value rewritten longer, a removed origin, links.
  void EmpresaSa() {
    static UI2 aUsuarios[] = {3, 5};
    IE_CAMPO_PS obs = IECampo(IE_CAMPO_LIVRE_TEXTO_0, "Observa\xE7\xE3o");
    obs.iQtdUsuarios = 2;
    obs.pUsuarios = aUsuarios;
    m_ulNf = IEGravaHeader(m_ie, IE_PROCESSO_FT_NF, {obs, IECampo(IE_CAMPO_LIVRE_V4_0, "Valor")});
    ASSERT_EQ(m_ulNf, 1u);
    IE_CAMPO_PS aCampos[] = {obs, IECampo(IE_CAMPO_LIVRE_V4_0, "Valor"), IECampo(IE_CAMPO_LIVRE_DMA_0, "Data")};
    ASSERT_EQ(m_ie.GravaIEHeader(&m_ulNf, IE_HDR_PS{0, IE_PROCESSO_FT_NF, 3, {}, aCampos, nullptr}), S_OK);
    m_ulCre = IEGravaHeader(m_ie, IE_PROCESSO_FN_CRE, {IECampo(IE_CAMPO_LIVRE_V4_0, "Total"), IECampo(kNota, "Nota")});
    ASSERT_EQ(m_ulCre, 2u);

    ASSERT_EQ(Grava(m_ulNf, 7, {IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, "abc"), IEValor(IE_CAMPO_LIVRE_V4_0, 42)}), S_OK);
    ASSERT_EQ(Grava(m_ulNf, 8, {IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, "Jo\xE3o")}), S_OK);
    ASSERT_EQ(Grava(m_ulNf, 7, {IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, "abcdef"), IEValor(IE_CAMPO_LIVRE_V4_0, 43),
                                IEValor(IE_CAMPO_LIVRE_DMA_0, 9)}),
              S_OK);
    ASSERT_EQ(Grava(m_ulCre, 7, {IEValor(IE_CAMPO_LIVRE_V4_0, 5), IEValor(kNota, 0, "")}), S_OK);
    ASSERT_EQ(m_ie.NotificaExclusaoOrigem({m_ulNf, 8}), S_OK);

    _REG_IE_CABECALHO_INTEGRACAO_PS cab{0, 0, IE_PROCESSO_FT_NF, IE_PROCESSO_FN_CRE, 0, 0, {}};
    UI4 ulCab = 0;
    ASSERT_EQ(m_ie.GravaCabecalhoIntegracao(0, cab, &ulCab), S_OK);
    _REG_IE_VINCULO_INTEGRACAO_PS aLinks[2] = {{ulCab, 1, 0, 0, 0, {}}, {ulCab, 0, 1, 0, 0, {}}};
    _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lista{2, {}, aLinks, nullptr};
    ASSERT_EQ(m_ie.GravaVinculosCabecalhosIntegracao(&cab, &lista), S_OK);
    ASSERT_EQ(m_ie.GravaCabecalhoIntegracao(ulCab, cab, &ulCab), S_OK);
    // A removed integration whose processes no longer matter.
    ASSERT_EQ(m_ie.GravaCabecalhoIntegracao(0, {0, 0, IE_PROCESSO_CM_OC, IE_PROCESSO_FN_CRE, 1, 0, {}}, &ulCab), S_OK);
  }

  // Overwrites bytes of a file of the company at an offset.
  void Altera(const std::string& sNome, size_t nOffset, const std::string& sBytes) const {
    std::string s = Bytes(sNome);
    ASSERT_LE(nOffset + sBytes.size(), s.size()) << sNome;
    s.replace(nOffset, sBytes.size(), sBytes);
    Escreve(sNome, s);
  }
  static std::string U4(UI4 ul) { return IEBytes(ul); }
  // Not the first of the free texts, which are texts all the same.
  static constexpr IE_E_CAMPO kNota = static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_TEXTO_0 + 3);

  CIExBaseTeste m_ie;
  UI4 m_ulNf = 0, m_ulCre = 0;
};
}  // namespace

TEST_F(InspecaoTeste, EmpresaSaNaoTemProblemasEnquantoOServicoEOutroEscritorAUsam) {
  EmpresaSa();
  EXPECT_EQ(Executa({"--json", m_sVovi, "verifica"}).sSaida, "");
  // A directory named relative to where the tool runs is a directory, not a company.
  const std::filesystem::path dirVovi = std::filesystem::path(m_sVovi).parent_path();
  const std::filesystem::path antes = std::filesystem::current_path();
  for (const std::string& sAlvo : {std::string("EMP1"), dirVovi.filename().string() + "/"}) {
    std::filesystem::current_path(sAlvo == "EMP1" ? antes : dirVovi.parent_path());
    EXPECT_EQ(Saida({sAlvo, "verifica"}), "no problems found\n");
  }
  std::filesystem::current_path(antes);
  EXPECT_EQ(Saida({dirVovi.string(), "verifica"}), "no problems found\n") << "a directory without its last slash";
  // The service goes on writing after the inspection, and another writer holds files open.
  EXPECT_EQ(Grava(m_ulNf, 9, {IEValor(IE_CAMPO_LIVRE_V4_0, 1)}), S_OK);
  CZelArqEx hdr, valores;
  ASSERT_EQ(hdr.Abre(m_sVovi + "DFIEHDR.DAT", 'G', sizeof(IE_HDR_ARQ_V0), 0, TRUE), ZELARQ_OK);
  ASSERT_EQ(valores.Abre(m_sVovi + "FTIEXNF.DAT", 'G', sizeof(IE_CAMPO_DATA_ARQ_V2), 0, TRUE), ZELARQ_OK);
  EXPECT_EQ(Json({"cabecalhos"}).size(), 2u);
  EXPECT_EQ(Json({"valores", "FT_NF", "7"}).at(0)["valores"].size(), 3u);
  EXPECT_EQ(Executa({"EMP1", "verifica"}).iSaida, kInspecaoOk);
  EXPECT_FALSE(ZelListaArquivos(m_sVovi, "*").empty());  // the listing the empty directory's test relies on
}

TEST_F(InspecaoTeste, CabecalhosValoresEIntegracoesSaoOsQueOServicoLe) {
  EmpresaSa();
  std::vector<json> a = Json({"cabecalhos"});
  ASSERT_EQ(a.size(), 2u);
  for (UI4 ulPos = 1; ulPos <= 2; ++ulPos) {
    IE_HDR_PS h{};
    ASSERT_EQ(m_ie.LeIEHeader(1, &ulPos, &h), S_OK);
    const json& o = a[ulPos - 1];
    EXPECT_EQ(o["posicao"], ulPos);
    EXPECT_EQ(o["processo"], h.eProcesso);
    EXPECT_EQ(o["flags"], h.dwFlags);
    EXPECT_EQ(o["excluido"], false);
    EXPECT_EQ(o["carimbo"].get<std::string>().size(), 19u);
    ASSERT_EQ(o["campos"].size(), h.nQtdCampos);
    for (UINT i = 0; i < h.nQtdCampos; ++i) {
      const json& c = o["campos"][i];
      EXPECT_EQ(c["id"], h.pCampos[i].id);
      EXPECT_EQ(c["nome"], ZelCp1252ParaUtf8(h.pCampos[i].szNome));
      std::vector<UI2> aUsuarios(h.pCampos[i].pUsuarios, h.pCampos[i].pUsuarios + h.pCampos[i].iQtdUsuarios);
      EXPECT_EQ(c["usuarios"].get<std::vector<UI2>>(), aUsuarios);
    }
    IELiberaCampos(h.pCampos, h.nQtdCampos);
  }
  EXPECT_EQ(a[0]["nome_processo"], "FT_NF");
  EXPECT_EQ(a[0]["campos"][0]["nome"], "Observa\xC3\xA7\xC3\xA3o");
  EXPECT_EQ(a[0]["campos"][0]["usuarios"], json::array({3, 5}));

  // The readable table: one row per field.
  std::vector<std::string> aLinhas;
  std::istringstream linhas(Saida({"EMP1", "cabecalhos"}));
  for (std::string s; std::getline(linhas, s);) aLinhas.push_back(s);
  ASSERT_EQ(aLinhas.size(), 1u + 3 + 2);
  EXPECT_EQ(aLinhas[0].rfind("posicao  processo  nome_processo  flags  excluido  carimbo", 0), 0u) << aLinhas[0];
  EXPECT_EQ(aLinhas[1].substr(aLinhas[0].find("excluido"), 4), "nao ") << "a live header";
  EXPECT_NE(aLinhas[1].find("Observa\xC3\xA7\xC3\xA3o"), std::string::npos);
  EXPECT_NE(aLinhas[1].find("3,5"), std::string::npos);
  // Columns line up, counted in characters; a row ends at its last text.
  EXPECT_EQ(aLinhas[1].find("Observa"), aLinhas[2].find("Valor"));
  auto Caracteres = [](const std::string& s, size_t n) {
    return std::count_if(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n), [](char c) { return (c & 0xC0) != 0x80; });
  };
  const size_t nUsuarios = aLinhas[0].rfind(' ', aLinhas[0].find("usuarios")) + 1;
  EXPECT_EQ(Caracteres(aLinhas[1], aLinhas[1].find("3,5")), Caracteres(aLinhas[0], nUsuarios))
      << "the column after an accented name";
  EXPECT_EQ(aLinhas[2].back(), '0');

  // A stamp in January or February belongs to its own year; a month's 31st is its own.
  const std::string sCabecalhos = Bytes("DFIEHDR.DAT");
  const std::pair<SYSTEMTIME, const char*> carimbos[] = {
      {{2024, 2, 0, 29, 23, 59, 58, 0}, "2024-02-29 23:59:58"}, {{2025, 1, 0, 1, 0, 0, 0, 0}, "2025-01-01 00:00:00"},
      {{2024, 3, 0, 1, 12, 0, 0, 0}, "2024-03-01 12:00:00"},   {{2024, 3, 0, 31, 8, 0, 0, 0}, "2024-03-31 08:00:00"},
      {{2023, 8, 0, 31, 0, 0, 1, 0}, "2023-08-31 00:00:01"},   {{2025, 1, 0, 31, 23, 0, 0, 0}, "2025-01-31 23:00:00"},
      {{1899, 12, 0, 30, 0, 0, 0, 0}, ""}};  // no stamp
  for (const auto& [st, szTexto] : carimbos) {
    Altera("DFIEHDR.DAT", sizeof(IE_HDR_ARQ_V0) + 16, IEBytes(IECarimbo(st)));
    EXPECT_EQ(Json({"cabecalhos"})[0]["carimbo"], szTexto);
  }
  Escreve("DFIEHDR.DAT", sCabecalhos);
  Altera("DFIEHDR.DAT", sizeof(IE_HDR_ARQ_V0),
         std::string(1, static_cast<char>(sCabecalhos[sizeof(IE_HDR_ARQ_V0)] | 1)));
  EXPECT_EQ(Json({"cabecalhos"})[0]["excluido"], true);
  // A process number the suite does not know is shown, and named "?".
  Escreve("DFIEHDR.DAT", sCabecalhos);
  Altera("DFIEHDR.DAT", sizeof(IE_HDR_ARQ_V0) + 4, U4(IE_PROCESSO_COUNT));
  EXPECT_EQ(Json({"cabecalhos"})[0]["processo"], IE_PROCESSO_COUNT);
  EXPECT_EQ(Json({"cabecalhos"})[0]["nome_processo"], "?");
  Escreve("DFIEHDR.DAT", sCabecalhos);
  // A field's own flags and its extra pointer, each in its own column.
  const std::string sCampos = Bytes("DFIECMP.DAT");
  Altera("DFIECMP.DAT", sizeof(IE_CAMPO_ARQ_V2) * a[0]["campos"][0]["posicao"].get<size_t>(), U4(6) + U4(9));
  const json c = Json({"cabecalhos"})[0];
  EXPECT_NE(c["flags"], 6) << "not the header's";
  EXPECT_EQ(c["campos"][0]["flags"], 6);
  EXPECT_EQ(c["campos"][0]["extra"], 9);
  Escreve("DFIECMP.DAT", sCampos);

  // Values, a removed origin's too.
  a = Json({"valores", "FT_NF", "7", "8", "4294967295"});
  ASSERT_EQ(a.size(), 3u);
  for (UI4 i = 0; i < 2; ++i) {
    UI4 ulChave = 7 + i;
    IE_VINCULO_PS v{};
    ASSERT_EQ(m_ie.BuscaVinculosByOrigem(m_ulNf, 1, &ulChave, &v), S_OK);
    EXPECT_EQ(a[i]["posicao"], i + 1) << "the link records in file order";
    EXPECT_EQ(a[i]["header"], m_ulNf);
    EXPECT_EQ(a[i]["chave"], ulChave);
    ASSERT_EQ(a[i]["valores"].size(), v.nQtdCampos);
    for (UINT j = 0; j < v.nQtdCampos; ++j) {
      const json& o = a[i]["valores"][j];
      EXPECT_EQ(o["id"], v.pCampos[j].id);
      const bool bTexto = v.pCampos[j].id == IE_CAMPO_LIVRE_TEXTO_0;
      uint64_t ull = 0;
      std::memcpy(&ull, v.pCampos[j].BinaryData, 8);
      EXPECT_EQ(o[bTexto ? "texto" : "valor"], bTexto ? json(ZelCp1252ParaUtf8(v.pCampos[j].pcTexto)) : json(ull));
    }
    IELiberaItens(v.pCampos, v.nQtdCampos);
  }
  EXPECT_EQ(a[0]["valores"][0]["texto"], "abcdef");
  EXPECT_EQ(a[0]["excluido"], false);
  EXPECT_EQ(a[1]["valores"][0]["texto"], "Jo\xC3\xA3o");
  EXPECT_EQ(a[1]["excluido"], true);
  // A text outside its file is missing: '-' in the table, the row ending there.
  const std::string sValores = Bytes("FTIEXNF.DAT");
  Altera("FTIEXNF.DAT", sizeof(IE_CAMPO_DATA_ARQ_V2) * a[1]["valores"][0]["posicao"].get<size_t>(), U4(0xFFFFFF00));
  EXPECT_TRUE(Json({"valores", "FT_NF", "8"})[0]["valores"][0]["texto"].is_null());
  const Resultado rFalta = Executa({"EMP1", "valores", "FT_NF", "8"});
  ASSERT_EQ(std::count(rFalta.sSaida.begin(), rFalta.sSaida.end(), '\n'), 2) << rFalta.sSaida;
  EXPECT_EQ(rFalta.sSaida.substr(rFalta.sSaida.size() - 3), " -\n") << rFalta.sSaida;
  EXPECT_EQ(Executa({"EMP1", "valores", "ft_nf", "8"}).sSaida, rFalta.sSaida) << "a process named in any case";
  for (int i = 0; i < IE_PROCESSO_COUNT; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Saida({"EMP1", "valores", IEGetNomeProcesso(static_cast<IE_E_PROCESSO>(i)), "8"}),
              Executa({"EMP1", "valores", std::to_string(i), "8"}).sSaida);
  }
  Escreve("FTIEXNF.DAT", sValores);
  EXPECT_EQ(a[2], json::parse(R"({"posicao":0,"header":0,"chave":4294967295,"excluido":false,"valores":[]})"))
      << "the largest key is a key";
  // By number, another process: its empty text reads as empty.
  std::vector<json> b = Json({"valores", std::to_string(IE_PROCESSO_FN_CRE), "7"});
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0]["valores"], json::parse(R"([{"posicao":1,"id":250,"valor":5},{"posicao":2,"id":103,"texto":""}])"));
  // A number is all its eight bytes.
  const std::string sCre = std::string(IEGetNomeBaseProcesso(IE_PROCESSO_FN_CRE)) + ".DAT", sCreAntes = Bytes(sCre);
  Altera(sCre, sizeof(IE_CAMPO_DATA_ARQ_V2) + 4, U4(0x80000001));
  EXPECT_EQ(Json({"valores", "FN_CRE", "7"})[0]["valores"][0]["valor"], 0x8000000100000005ull);
  Escreve(sCre, sCreAntes);

  a = Json({"integracoes"});
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[1]["excluida"], true);
  IE_ARRAY_PONTEIROS_PS ptrs{};
  ASSERT_EQ(m_ie.GetPonteirosCabecalhoIntegracaoVoviDadi(&ptrs), S_OK);
  ASSERT_EQ(ptrs.qtd, 1u);
  _REG_IE_CABECALHO_INTEGRACAO_PS cab{};
  ASSERT_EQ(m_ie.LeCabecalhoIntegracao(ptrs.pPtrs[0], &cab), S_OK);
  EXPECT_EQ(a[0]["posicao"], ptrs.pPtrs[0]);
  EXPECT_EQ(a[0]["origem"], cab.eProcessoOrigem);
  EXPECT_EQ(a[0]["destino"], cab.eProcessoDestino);
  EXPECT_EQ(a[0]["nome_destino"], "FN_CRE");
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lista{};
  ASSERT_EQ(m_ie.LeVinculosCabecalhoIntegracao(&cab, &lista), S_OK);
  ASSERT_EQ(a[0]["vinculos"].size(), lista.ulQtd);
  for (UI4 i = 0; i < lista.ulQtd; ++i) {
    EXPECT_EQ(a[0]["vinculos"][i]["campo_origem"], lista.pRegListaVinculos[i].ulPosicaoCampoOrigem);
    EXPECT_EQ(a[0]["vinculos"][i]["campo_destino"], lista.pRegListaVinculos[i].ulPosicaoCampoDestino);
  }
  CoTaskMemFree(lista.pRegListaVinculos);
  CoTaskMemFree(ptrs.pPtrs);
  // An inactive integration or link is not a deleted one.
  const std::string sIntegracoes = Bytes("DFIEINTCAB.DAT"), sLinks = Bytes("DFIEINTVINC.DAT");
  Altera("DFIEINTCAB.DAT", sizeof(REG_IE_CABECALHO_INTEGRACAO_ARQ) * a[0]["posicao"].get<size_t>() + 16,
         std::string(1, '\x01'));
  Altera("DFIEINTVINC.DAT", sizeof(REG_IE_VINCULO_INTEGRACAO_ARQ) * 2 + 12, std::string(1, '\x01'));
  EXPECT_EQ(Json({"integracoes"})[0], json::parse(R"({"posicao":1,"origem":29,"nome_origem":"FT_NF","destino":0,
      "nome_destino":"FN_CRE","excluida":false,"inativa":true,"vinculos":[
      {"posicao":1,"campo_origem":1,"campo_destino":0,"excluido":false,"inativo":false},
      {"posicao":2,"campo_origem":0,"campo_destino":1,"excluido":false,"inativo":true}]})"));
  Escreve("DFIEINTCAB.DAT", sIntegracoes);
  Escreve("DFIEINTVINC.DAT", sLinks);

  // Of deleted headers of the destination's process the integration takes the
  // latest, as the service does; one without a stamp is never taken.
  IE_CAMPO_PS aCampos[] = {IECampo(IE_CAMPO_LIVRE_V4_0, "Total"), IECampo(kNota, "Nota")};
  ASSERT_EQ(m_ie.GravaIEHeader(&m_ulCre, IE_HDR_PS{1, IE_PROCESSO_FN_CRE, 2, {}, aCampos, nullptr}), S_OK);
  EXPECT_EQ(Executa({"EMP1", "verifica"}).iSaida, kInspecaoOk);
  Altera("DFIEHDR.DAT", 56 * 2 + 16, std::string(8, '\0'));
  EXPECT_EQ(Problemas(), std::vector<std::string>{"DFIEINTCAB.DAT 1: destination process 0 has no header"});
}

// Each kind of damage, one at a time, on a sound company the service let go of.
TEST_F(InspecaoTeste, CadaDanoEApontado) {
  EmpresaSa();
  ASSERT_EQ(m_ie.Finaliza(), S_OK);
  std::map<std::string, std::string> sa;
  for (const std::string& sNome : ZelListaArquivos(m_sVovi, "*")) sa[sNome] = Bytes(sNome);
  constexpr size_t kFim = std::string::npos, kTudo = kFim - 1;  // appended; the whole file
  // Damages (file, offset, bytes) and the problems they make.
  using Danos = std::vector<std::tuple<const char*, size_t, std::string>>;
  const std::pair<Danos, std::vector<std::string>> casos[] = {
      // Link 1 (origin 1/7 after its rewrite) points past FTIEXNF.DAT's 6 records.
      {{{"DFIEVINC.dat", 12, U4(5)}},
       {"DFIEVINC.dat 1: origin (1, 7): its 3 values (records 5 to 7) lie beyond FTIEXNF.DAT (6 records)"}},
      // Value 4 of FTIEXNF.DAT is the text "abcdef" of origin 1/7; offset 0 is
      // the text file's header byte, which only an empty text may name.
      {{{"FTIEXNF.DAT", 48 * 4, U4(9)}},
       {"FTIEXNF.DAT 4: value of link 1: text at offset 9, length 6 lies outside the texts of FTIEXNFText.DAT (14 "
        "bytes)"}},
      {{{"FTIEXNF.DAT", 48 * 4, U4(0)}},
       {"FTIEXNF.DAT 4: value of link 1: text at offset 0, length 6 lies outside the texts of FTIEXNFText.DAT (14 "
        "bytes)"}},
      // Value 2 of FNIEXCRE.DAT is origin 2/7's empty note: an empty text names offset 0.
      {{{"FNIEXCRE.DAT", 48 * 2, U4(9)}},
       {"FNIEXCRE.DAT 2: value of link 3: text at offset 9, length 0 lies outside the texts of FNIEXCREText.DAT (1 "
        "bytes)"}},
      {{{"DFIEVINC.dat", kFim, sa["DFIEVINC.dat"].substr(0, 24)}},
       {"DFIEVINC.dat 4: origin (1, 7) is also the origin of record 1"}},
      {{{"FTIEXNF.DAT", 48 * 5 + 8, U4(IE_CAMPO_LIVRE_V4_0 + 3)}},
       {"FTIEXNF.DAT 5: value of link 1: field 253 is not in header 1"}},
      // Link 2 maps origin field 0 to destination field 1; header 2 has 2 fields.
      {{{"DFIEINTVINC.DAT", 80 * 2 + 8, U4(2)}, {"DFIEINTVINC.DAT", 80 * 1 + 4, U4(3)}},
       {"DFIEINTVINC.DAT 1: origin field 3 is beyond the 3 fields of the origin's header",
        "DFIEINTVINC.DAT 2: destination field 2 is beyond the 2 fields of the destination's header"}},
      {{{"DFIEINTCAB.DAT", 80 + 4, U4(IE_PROCESSO_CM_OC)}}, {"DFIEINTCAB.DAT 1: destination process 23 has no header"}},
      {{{"DFIEINTCAB.DAT", 80 + 4, U4(IE_PROCESSO_CM_OC)}, {"DFIEINTCAB.DAT", 80 + 8, U4(9)}},
       {"DFIEINTCAB.DAT 1: destination process 23 has no header",
        "DFIEINTCAB.DAT 1: its 2 links (records 9 to 10) lie beyond DFIEINTVINC.DAT (2 records)"}},
      // Header 1's fields were appended as records 3 to 5; field 3 has the users.
      {{{"DFIEHDR.DAT", 56 * 2 + 12, U4(7)}, {"DFIECMP.DAT", 80 * 3 + 8, U4(4)}},
       {"DFIECMP.DAT 3: its 2 users (records 4 to 5) lie beyond DFIEUSU.DAT (4 records)",
        "DFIEHDR.DAT 2: its 2 fields (records 7 to 8) lie beyond DFIECMP.DAT (7 records)"}},
      {{{"DFIECMP.DAT", kFim, "xyz"}, {"DFIECMP.DAT", 5, "\x01"}, {"DFIEVINC.dat", kFim, "x"},
        {"DFIEUSU.DAT", 2, "\x01"}, {"FNIEXCRE.DAT", kTudo, ""}, {"FTIEXNFText.DAT", 0, "x"},
        {"DFIEHDR.DAT", 55, "\x01"}},
       {"DFIEHDR.DAT 0: record 0 is not zero",
        "DFIECMP.DAT -: size 643 is not a whole number of 80-byte records", "DFIECMP.DAT 0: record 0 is not zero",
        "DFIEUSU.DAT 0: record 0 is not zero",
        "DFIEVINC.dat -: size 73 is not a whole number of 24-byte records", "FNIEXCRE.DAT -: record 0 is missing",
        "FTIEXNFText.DAT 0: record 0 is not zero",
        "DFIEVINC.dat 3: origin (2, 7): its 2 values (records 1 to 2) lie beyond FNIEXCRE.DAT (0 records)"}},
      {{{"DFIEVINC.dat", 24 * 2, U4(6)}, {"DFIEVINC.dat", 24 * 1, U4(0)}},
       {"DFIEVINC.dat 2: header position 0", "DFIEVINC.dat 3: origin (6, 7): header 6 does not exist"}},
      // A removed origin's chain is not checked, nor a removed link: nothing reads them.
      {{{"DFIEVINC.dat", 16, U4(2)}, {"DFIEINTVINC.DAT", 80 * 2, U4(5)}, {"DFIEVINC.dat", 24 + 12, U4(50)},
        {"DFIEINTVINC.DAT", 80 + 4, U4(3)}, {"DFIEINTVINC.DAT", 80 + 12, "\x02"}},
       {"DFIEVINC.dat 1: removal mark 2 is neither 0 nor 1",
        "DFIEINTVINC.DAT 2: names integration 5 but belongs to integration 1"}},
      {{{"DFIEHDR.DAT", 56 * 2 + 4, U4(69)}},
       {"DFIEHDR.DAT 2: unknown process 69", "DFIEINTCAB.DAT 1: destination process 0 has no header"}},
  };
  for (size_t i = 0; i < std::size(casos); ++i) {
    SCOPED_TRACE("damage " + std::to_string(i));
    for (const auto& [szArquivo, nOffset, sBytes] : casos[i].first) {
      if (nOffset < kTudo) Altera(szArquivo, nOffset, sBytes);
      if (nOffset >= kTudo) Escreve(szArquivo, (nOffset == kFim ? Bytes(szArquivo) : "") + sBytes);
    }
    EXPECT_EQ(Problemas(), casos[i].second);
    for (const auto& [sNome, sBytes] : sa) Escreve(sNome, sBytes);
  }

  // The table tells how many, with the status 1 that scripts test for damage.
  Altera("DFIEVINC.dat", 16, U4(2));
  EXPECT_EQ(Saida({m_sVovi, "verifica"}, 1),
            "arquivo       registro  problema\n"
            "DFIEVINC.dat  1         removal mark 2 is neither 0 nor 1\n"
            "1 problem(s)\n");
}

TEST_F(InspecaoTeste, ErrosSaoMensagensClarasSemQueda) {
  // The error text of a run that must fail, printing nothing else.
  auto Erro = [](std::vector<std::string> aArgs) {
    Resultado r = Executa(aArgs);
    EXPECT_EQ(r.iSaida, kInspecaoErro) << r.sErros;
    EXPECT_EQ(r.sSaida, "");
    return r.sErros;
  };
  EXPECT_EQ(Erro({"EMP9", "verifica"}),
            "tolvan-inspeciona: no such company: EMP9 (no data directory registered for it)\n");
  EXPECT_EQ(Erro({"/nao/existe", "cabecalhos"}), "tolvan-inspeciona: no such directory: /nao/existe\n");
  const std::string sSemDados = ZelNovoDiretorio("semdados");
  RegistraEmpresa("EMP2", sSemDados);
  EXPECT_EQ(Erro({"EMP2", "cabecalhos"}),
            "tolvan-inspeciona: company EMP2 has no Vovi Dadi data (" + sSemDados + "VOVIDADI/ not found)\n");
  for (std::vector<std::string> aArgs :
       {std::vector<std::string>{}, {"EMP1"}, {"EMP1", "apaga"}, {"EMP1", "valores", "1"}, {"EMP1", "cabecalhos", "x"}})
    EXPECT_EQ(Erro(aArgs).rfind("uso: tolvan-inspeciona", 0), 0u);
  EXPECT_EQ(Erro({}),
            "uso: tolvan-inspeciona [--json] EMPRESA|DIRETORIO cabecalhos|integracoes|verifica\n"
            "     tolvan-inspeciona [--json] EMPRESA|DIRETORIO valores PROCESSO CHAVE...\n");
  for (const std::string sProcesso : {"69", ""})
    EXPECT_EQ(Erro({"EMP1", "valores", sProcesso, "1"}), "tolvan-inspeciona: unknown process: " + sProcesso +
                                                             " (a number from 0 to 68 or a name such as FT_NF)\n");
  for (const std::string sChave : {"-1", "-0", "4294967296"})
    EXPECT_EQ(Erro({"EMP1", "valores", "FT_NF", sChave}), "tolvan-inspeciona: bad key: " + sChave + "\n");
  // A file that cannot be read as one.
  ZelCriaDiretorio(m_sVovi + "FTIEXNFText.DAT", false);
  const std::string sErro = Erro({"EMP1", "verifica"});
  EXPECT_EQ(sErro.rfind("tolvan-inspeciona: FTIEXNFText.DAT: cannot be read (data-file code ", 0), 0u) << sErro;
}

// The program answers a bad command line; an empty directory gains no files.
TEST(InspecaoPrograma, ExecutavelRespondeEDiretorioVazioNaoGanhaArquivos) {
  const std::string sDiretorio = ZelNovoDiretorio("vazio");
  // Reports go to standard output and complaints to standard error.
  const std::string sPrograma = std::string(ZEL_TOLVAN_INSPECIONA) + " ", sSaida = sDiretorio + "../saida.txt",
                    sErros = sDiretorio + "../erros.txt", sRedirige = " >" + sSaida + " 2>" + sErros;
  // A signal's status has no exit code 2.
  EXPECT_EQ(WEXITSTATUS(std::system((sPrograma + sRedirige).c_str())), 2) << "the status of a wrong call";
  EXPECT_EQ(ZelLeArquivoInteiro(sSaida), "");
  EXPECT_NE(ZelLeArquivoInteiro(sErros), "");
  EXPECT_EQ(WEXITSTATUS(std::system((sPrograma + sDiretorio + " verifica" + sRedirige).c_str())), kInspecaoOk);
  EXPECT_EQ(ZelLeArquivoInteiro(sSaida), "no Vovi Dadi files here: nothing to check\n");
  EXPECT_EQ(ZelLeArquivoInteiro(sErros), "");
  std::ostringstream saida, erros;
  EXPECT_EQ(IEInspecionaExecuta({"--json", sDiretorio, "verifica"}, saida, erros), kInspecaoOk) << erros.str();
  EXPECT_EQ(IEInspecionaExecuta({"--json", sDiretorio, "cabecalhos"}, saida, erros), kInspecaoOk);
  EXPECT_EQ(saida.str(), "");
  // Told in words, a directory without the company's files is not called sound.
  EXPECT_EQ(IEInspecionaExecuta({sDiretorio, "verifica"}, saida, erros), kInspecaoOk);
  EXPECT_EQ(saida.str(), "no Vovi Dadi files here: nothing to check\n");
  EXPECT_TRUE(ZelListaArquivos(sDiretorio, "*").empty());
  // Any one of them, sound, is a company with nothing wrong.
  const std::pair<const char*, size_t> arquivos[] = {
      {"DFIEHDR.DAT", sizeof(IE_HDR_ARQ_V0)},      {"DFIECMP.DAT", sizeof(IE_CAMPO_ARQ_V2)},
      {"DFIEUSU.DAT", sizeof(IE_USUARIO_ARQ_V0)},  {"DFIEVINC.dat", 0},
      {"DFIEINTCAB.DAT", sizeof(REG_IE_CABECALHO_INTEGRACAO_ARQ)},
      {"DFIEINTVINC.DAT", sizeof(REG_IE_VINCULO_INTEGRACAO_ARQ)}};
  for (const auto& [sz, nRegistroZero] : arquivos) {
    std::ofstream(sDiretorio + sz, std::ios::binary) << std::string(nRegistroZero, '\0');
    std::ostringstream s;
    IEInspecionaExecuta({sDiretorio, "verifica"}, s, erros);
    EXPECT_EQ(s.str(), "no problems found\n") << sz;
    std::remove((sDiretorio + sz).c_str());
  }
}
