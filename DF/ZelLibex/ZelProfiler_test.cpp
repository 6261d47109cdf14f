#include "ZelProfiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "ZelAmbienteTeste.h"
#include "ZelDados.h"
#include "ZelLogConfig.h"
#include "ZelPath.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
// An identity that keeps its last error and has a session record.
class CIdentidadeTeste : public CZelUltimoErro, public CZelProfilerEmpresa, public IZelDF_ProfilerRegistro {
 public:
  explicit CIdentidadeTeste(const std::string& s) : CZelProfilerEmpresa(s) {}
  const _REG_DF_INICIALIZAPS* GetRegistroInicializacao() const override { return &reg; }
  _REG_DF_INICIALIZAPS reg{};
};

// Every piece is in the line; the failure names the first missing.
template <class... P>
::testing::AssertionResult Contem(const std::string& s, const P&... pecas) {
  for (const std::string& p : {std::string(pecas)...})
    if (s.find(p) == std::string::npos) return ::testing::AssertionFailure() << "no \"" << p << "\" in: " << s;
  return ::testing::AssertionSuccess();
}
void Chave(const std::string& sChave, const char* szNome, const std::string& sValor) {
  ASSERT_EQ(ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas + sChave, szNome, sValor), ERROR_SUCCESS);
}
}  // namespace

using ZelProfilerTeste = ZelAmbienteTeste;

TEST_F(ZelProfilerTeste, PrimeiroErroDoMesCriaArquivoComCabecalhoDaEmpresaOuDosProgramas) {
  CZelProfilerEmpresa emp("EMP1");
  std::string sCaminho = ArquivoErrosEmpresa();
  SYSTEMTIME st{};
  GetLocalTime(&st);
  char szNome[64];
  std::snprintf(szNome, sizeof szNome, "ZelProfilerErros_Base_%04d%02d.log", st.wYear, st.wMonth);
  EXPECT_EQ(sCaminho, m_sEmpresa + szNome);
  ASSERT_FALSE(ZelExisteArquivo(sCaminho));

  ZelTraceHR(&emp, "CIExBase::GravaIEHeader", "IExBase", 120, "hr = arqIE.Grava(&regIE, pPos)", "hr", E_UNEXPECTED);
  ZelTraceHR(&emp, "CIExBase::GravaIEHeader", "IExBase", 121, "hr = x", "hr", E_FAIL);

  ASSERT_TRUE(ZelLeArquivoInteiro(sCaminho).starts_with(kCabecalhoArquivoErros));
  auto linhas = Linhas(sCaminho);
  ASSERT_EQ(linhas.size(), 2u) << "the header is written once";
  char szData[32];
  std::snprintf(szData, sizeof szData, "%02d/%02d/%04d\t", st.wDay, st.wMonth, st.wYear);
  EXPECT_EQ(linhas[0].substr(0, 11), szData) << "day, month, year";
  EXPECT_TRUE(Contem(linhas[0], "\tERRO\t", "\tEEMP1\tU000\tS00000000\tT",
                     "\tIExBase\t120\thr = arqIE.Grava(&regIE, pPos)\thr = 0X8000FFFF "));
  EXPECT_FALSE(ZelExisteArquivo(ArquivoErrosProgramas())) << "company errors stay out of the program file";
  // The user and session columns are signed 32-bit numbers, zero-padded.
  const CZelProfilerEmpresa grande("EMP1", 42, 4000000000UL), pequena("EMP1", 7, 7);
  ZelTraceHR(&grande, "f", "IExBase", 1, "x", "hr", E_FAIL);
  ZelTraceHR(&pequena, "f", "IExBase", 1, "x", "hr", E_FAIL);
  linhas = Linhas(sCaminho);
  ASSERT_EQ(linhas.size(), 4u);
  EXPECT_TRUE(Contem(linhas[2], "\tEEMP1\tU042\tS-294967296\tT"));
  EXPECT_TRUE(Contem(linhas[3], "\tEEMP1\tU007\tS00000007\tT"));
  // Without a company, to the programs' file in the modules' directory.
  ZelGravaLinhaErro(nullptr, "main", "Tolvan", 1, "texto %d", 42);
  sCaminho = ArquivoErrosProgramas();
  EXPECT_EQ(sCaminho.rfind(m_sModulos + "ZelProfilerErros_Pgms_", 0), 0u);
  linhas = Linhas(sCaminho);
  ASSERT_EQ(linhas.size(), 1u);
  EXPECT_TRUE(Contem(linhas[0], "\tE\tU000\tS00000000\t", "\tTolvan\t1\ttexto 42\t"));
  // Year and month are bounded in the name.
  EXPECT_TRUE(Contem(ZelCaminhoArquivoErros("", 1200, 150), "ZelProfilerErros_Pgms_184899.log"));
  EXPECT_TRUE(Contem(ZelCaminhoArquivoErros("", 9999, -3), "ZelProfilerErros_Pgms_471700.log"));
}

TEST_F(ZelProfilerTeste, LinhasSoletramOCodigoEmWindows1252OInteiroEAPosicaoDeArquivo) {
  std::string s = ZelFormataErroHR("hr = pfInSEHFuncao()", "hr", E_UNEXPECTED);
  EXPECT_TRUE(Contem(s, "hr = pfInSEHFuncao()\thr = 0X8000FFFF ", "\tSEVERITY = 1 SEVERITY_ERROR\t",
                     "\tFACILITY = 0 FACILITY_NULL\t", "\tCODE = 65535 "));
  EXPECT_TRUE(s.ends_with("\tDescri\xE7\xE3o = E_UNEXPECTED")) << s;
  // Facility 264 has the suite's name and, the message library claiming it, no symbolic name.
  s = ZelFormataErroHR("hr = x", "hr", HR(0x81080A04));
  EXPECT_TRUE(Contem(s, "\tFACILITY = 264 ZEL_FACILITY_CR_CORE\t", "\tCODE = 2564 \t"));
  EXPECT_TRUE(s.ends_with("\tDescri\xE7\xE3o = ")) << s;

  CZelProfilerEmpresa emp("EMP1");
  ZelTraceInt(&emp, "CZelArqEx::Abre", "ZelArqEx", 77, "iRetorno = Abre()", "iRetorno", 16110);
  ZelTracePosicao(&emp, "CZelFile::Le", "ZelFile", 88, HR(0x810809DA), "/d/DFIEVINC.dat", 12, 24, 11);
  ZelTracePosicao(&emp, "CZelArqEx::Le", "ZelArqEx", 90, HR(0x80043E95), "/d/X.DAT", 5, 48, 96, "GetLength");
  auto linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(linhas.size(), 3u);
  // An integer result is combined with FACILITY_ITF.
  EXPECT_TRUE(Contem(linhas[0], "\tiRetorno = Abre()\tiRetorno = 16110\tHR = 0X80043EEE\tDescri\xE7\xE3o = \t"));
  EXPECT_TRUE(Contem(linhas[1], "\thr = 0x810809DA\tDescri\xE7\xE3o = \tArquivo = /d/DFIEVINC.dat\tPosi\xE7\xE3o = 12\t"
                                "Registro = 24\tQtd. Registros = 11\t"));
  EXPECT_TRUE(Contem(linhas[2], "\tPosi\xE7\xE3o = 5\tRegistro = 48\tGetLength = 96\t"));
  // Texts longer than any buffer come whole, up to the lengths on either side of one.
  for (size_t n : {size_t{480}, size_t{504}, size_t{505}, size_t{3000}}) {
    const std::string sLonga = "hr = " + std::string(n, 'x') + "()";
    EXPECT_EQ(ZelFormataErroHR(sLonga.c_str(), "hr", E_FAIL).rfind(sLonga + "\thr = 0X80004005 ", 0), 0u);
    ZelGravaLinhaErro(&emp, "F", "A", 1, "%s", sLonga.c_str());
    EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).back().ends_with("\t" + sLonga + "\t")) << n;
  }
}

TEST_F(ZelProfilerTeste, RegistroDeInicializacaoSoComControleBEFalhaNoUltimoErro) {
  CIdentidadeTeste id("EMP1");
  std::strcpy(id.reg.szEmpresa, "EMP1");
  std::strcpy(id.reg.szAplicativo, "App");
  // Both numbers are past 16 bits, and come whole.
  id.reg.ulUsuario = 65536 + 4471;
  id.reg.ulLinhaFonte = 65536 + 33;
  id.reg.cControle = 'B';
  ZelTraceHR(&id, "F", "A", 1, "hr = x", "hr", E_FAIL);
  id.reg.cControle = 'b';
  ZelTraceHR(&id, "CIExBase::LeIEHeader", "IExBase", 5, "hr = x", "hr", E_INVALIDARG);
  auto linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(linhas.size(), 2u);
  EXPECT_TRUE(Contem(linhas[0], "\tEMP1\t70007\t0\t\tApp\t\t\t65569\t0\t0\t\tERRO\t"));
  EXPECT_TRUE(Contem(linhas[1], "\t\t0\t0\t\t\t\t\t0\t0\t0\t\tERRO\t"));

  _REG_DF_ERROPS reg{};
  id.GetErro()->CopiarPara(&reg);
  EXPECT_EQ(reg.hr, E_INVALIDARG);
  EXPECT_STREQ(reg.szEmpresa, "EMP1");
  EXPECT_TRUE(Contem(reg.cMensagem, "CIExBase::LeIEHeader"));
  // An integer result becomes the last error too, with its FACILITY_ITF code.
  ZelTraceInt(&id, "CZelArqEx::Abre", "ZelArqEx", 77, "iRetorno = Abre()", "iRetorno", 16110);
  id.GetErro()->CopiarPara(&reg);
  EXPECT_EQ(static_cast<uint32_t>(reg.hr), 0x80043EEEu);
  EXPECT_TRUE(Contem(reg.cMensagem, "CZelArqEx::Abre: iRetorno = Abre()\tiRetorno = 16110"));
}

TEST_F(ZelProfilerTeste, ArquivoPresoPorOutroEscritorPerdeALinhaApos19Tentativas) {
  CZelProfilerEmpresa emp("EMP1");
  ZelTraceHR(&emp, "F", "A", 1, "hr = x", "hr", E_FAIL);
  std::string antes = ZelLeArquivoInteiro(ArquivoErrosEmpresa());
  {
    CFile outro;
    ASSERT_TRUE(outro.Open(ArquivoErrosEmpresa(), CFile::modeReadWrite | CFile::shareDenyWrite));
    ZelTraceHR(&emp, "F", "A", 2, "hr = x", "hr", E_FAIL);
    EXPECT_EQ(ZelTentativasUltimaGravacao(), 19);
    EXPECT_EQ(ZelLeArquivoInteiro(ArquivoErrosEmpresa()), antes);
  }
  ZelTraceHR(&emp, "F", "A", 3, "hr = x", "hr", E_FAIL);
  EXPECT_EQ(ZelTentativasUltimaGravacao(), 1);
  EXPECT_EQ(Linhas(ArquivoErrosEmpresa()).size(), 2u);
  EXPECT_FALSE(ZelAcrescentaLinhaLog(ZelDiretorioTeste() + "nao/existe/arq.log", "x", nullptr));
  EXPECT_EQ(ZelTentativasUltimaGravacao(), 1) << "a missing directory is given up at once";
}

TEST_F(ZelProfilerTeste, SemEntradaNemSaidaOuComOutroProgramaNaoHaLinhasDeChamada) {
  CZelProfilerEmpresa emp("EMP1");
  {
    CZelProfiler prof(&emp);
    prof.Entrada("CZelDF_IEx::LeIEHeader", {{"uiQtd", "3"}});
    ZelTraceHR(&emp, "CZelDF_IEx::LeIEHeader", "ZelDF_IEx", 12, "hr = pfInSEHFuncao()", "hr", E_FAIL);
  }
  EXPECT_FALSE(ZelExisteArquivo(LogChamadas())) << "no log.ini: only error lines";
  EXPECT_EQ(Linhas(ArquivoErrosEmpresa()).size(), 1u);
  for (const char* szIni : {"", "[Log]\nPerformance=1\nZelDataBase=todos\n",
                            "[Log]\nEntrada=1\nZelDataBase=todos\nProcessos=tolvan.exe, outro\n"}) {
    SCOPED_TRACE(szIni);
    EscreveLogIni(szIni);
    CZelProfiler{&emp}.Entrada("CZelDF_IEx::KeepAlive");
    EXPECT_FALSE(ZelExisteArquivo(LogChamadas()));
  }
}

TEST_F(ZelProfilerTeste, ZelDataBaseSelecionaAsFuncoesDoServico) {
  EscreveLogIni("[Log]\r\nEntrada=1\r\nZelDataBase=CZelDF_IEx\r\n");
  CZelProfilerEmpresa emp("EMP1");
  CZelProfiler{&emp}.Entrada("CZelDF_IEx::LeIEHeader", {{"uiQtd", "3"}, {"dwFlags", ""}, {"", "x"}, {"dwFlags", "0"}});
  CZelProfiler{&emp}.Entrada("CZelFile::Grava");
  ASSERT_TRUE(ZelLeArquivoInteiro(LogChamadas()).starts_with(kCabecalhoLogChamadas));
  auto linhas = Linhas(LogChamadas());
  ASSERT_EQ(linhas.size(), 1u) << "no exit lines, and CZelFile is not selected";
  // No Guid column without exit lines.
  EXPECT_TRUE(Contem(linhas[0], "\tCZelDF_IEx::LeIEHeader\tEEMP1\t", "\tENTROU\t", "\t0\t0\tuiQtd = 3\tdwFlags = 0\t"));
  EXPECT_EQ(linhas[0].back(), '\t');
}

TEST(ZelLogConfig, RegrasDasChavesEChaveRepetidaValeAPrimeira) {
  auto c = ZelInterpretaLogIni("[Outra]\nEntrada=1\n[Log]\nSaida=2\nCoCreateInstance=1\nProcessos= TOLVAN \n");
  EXPECT_EQ(c.nEntrada, 0) << "keys of other sections do not count";
  EXPECT_EQ(c.nSaida, 2);
  EXPECT_TRUE(c.LogChamadas()) << "CoCreateInstance alone switches call logging on";
  EXPECT_EQ(c.sProcessos, "tolvan");
  EXPECT_TRUE(c.ProgramaSelecionado("tolvan_testes"));
  EXPECT_FALSE(c.ProgramaSelecionado("outro"));
  EXPECT_EQ(c.nTimeoutConfig, 600);

  for (const char* szIni : {"[Log]\nEntrada=1\nMemory=1\n", "[Log]\nSaida=1\nPerformance=1\n"})
    EXPECT_TRUE(ZelInterpretaLogIni(szIni).LogChamadas())
        << "measures are refused only when Entrada and Saida are both off";
  EXPECT_FALSE(ZelInterpretaLogIni("[Log]\nCoCreateInstance=1\nMemory=1\n").LogChamadas());
  EXPECT_TRUE(ZelInterpretaLogIni("[Log]\nZelDataBase=TODOS\n").FuncaoSelecionada("CZelFile::Le"));
  auto zl = ZelInterpretaLogIni("[Log]\nZelDataBase=czeldf_iex;CZelFile\n");
  EXPECT_FALSE(zl.FuncaoSelecionada("CZelDF_IEx::LeIEHeader")) << "function names compare with case";
  EXPECT_TRUE(zl.FuncaoSelecionada("CZelFile<T>::Grava"));
  EXPECT_FALSE(ZelLogConfig{}.FuncaoSelecionada("CZelDF_IEx::LeIEHeader"));
  EXPECT_TRUE(ZelLogConfig{}.ProgramaSelecionado("x"));

  EXPECT_FALSE(ZelInterpretaLogIni("[Log]\nEntrada=1\nProcessos=\n").ProgramaSelecionado("zellibex_testes"))
      << "a present, empty list names no program";
  EXPECT_TRUE(ZelInterpretaLogIni("[Log]\nProcessos=\"zellibex_testes\"\n").ProgramaSelecionado("zellibex_testes"))
      << "quotes around a value are not part of it";
  EXPECT_EQ(ZelInterpretaLogIni("[Log]\nProcessos=\"\"\n").sProcessos, "") << "two quotes hold an empty value";
  EXPECT_EQ(ZelInterpretaLogIni("[Log]\nTimeoutConfig=\n").nTimeoutConfig, 600) << "an empty number keeps its default";
  EXPECT_EQ(ZelInterpretaLogIni("[Log]\nTimeoutConfig=abc\n").nTimeoutConfig, 0) << "a value that is no number reads 0";
  EXPECT_EQ(ZelInterpretaLogIni("[Log]\nProcessos=" + std::string(300, 'P')).sProcessos, std::string(259, 'p'));
  auto repetida = ZelInterpretaLogIni("[Log]\nEntrada=1\nEntrada=0\nProcessos=um\nProcessos=todos\nSaida=0\nSaida=1\n");
  EXPECT_EQ(repetida.nEntrada, 1);
  EXPECT_EQ(repetida.nSaida, 0);
  EXPECT_EQ(repetida.sProcessos, "um");
}

namespace {
// The value of a column of a call-log line, by the header's names (every optional column of these lines is present).
std::string Coluna(const std::string& sLinha, const std::string& sNome) {
  std::istringstream nomes(kCabecalhoLogChamadas), valores(sLinha);
  for (std::string n, v; std::getline(nomes, n, '\t') && std::getline(valores, v, '\t');)
    if (n == sNome || n == sNome + "\n") return v;  // the last name ends the header's line
  return "?";
}
}  // namespace

TEST_F(ZelProfilerTeste, LinhaDeSaidaMedeDuracaoEMemoria) {
  // Keys without case; the program is chosen by its name without case.
  EscreveLogIni("[log]\nentrada=1\nSAIDA=1\nPerformance=1\nMemory=1\nZelDataBase=1\nProcessos=OUTRO;zellibex\n");
  CZelProfilerEmpresa emp("EMP1");
  constexpr size_t kBytes = 32u << 20;
  {
    std::vector<char> bloco;  // outlives the scope's exit line
    CZelProfiler prof(&emp);
    prof.Entrada("CZelDF_IEx::LeIEHeader", {{"qtd", "1"}, {"p2", "2"}, {"p3", "3"}, {"p4", "4"}, {"p5", "5"},
                                            {"p6", "6"}, {"p7", "7"}, {"p8", "8"}, {"p9", "9"}, {"p10", "10"}});
    bloco.assign(kBytes, 1);
    Sleep(40);
  }
  const auto linhas = Linhas(LogChamadas());
  ASSERT_EQ(linhas.size(), 2u);
  const std::tuple<int, const char*, const char*> colunas[] = {
      {0, "Tipo", "ENTROU"}, {0, "Duracao", "0"}, {0, "DeltaMemoria", "0"}, {0, "Parameter1", "qtd = 1"},
      {1, "Tipo", "SAIU"}, {1, "ClasseFuncao", "CZelDF_IEx::LeIEHeader"}, {1, "Parameter1", "qtd = 1"}};
  for (const auto& [i, szColuna, sz] : colunas) EXPECT_EQ(Coluna(linhas[i], szColuna), sz) << i << szColuna;
  EXPECT_TRUE(Contem(linhas[0], "\tp8 = 8\tp9 = 9\t"));
  EXPECT_FALSE(Contem(linhas[0], "p10")) << "nine parameters at most";
  const std::string& sSaida = linhas[1];
  EXPECT_GE(std::stoll(Coluna(sSaida, "Duracao")), 40);
  EXPECT_GE(std::stoll(Coluna(sSaida, "DeltaMemoria")), static_cast<long long>(kBytes / 2)) << sSaida;
  // The component's and the machine's memory, and what of it is free, on every line.
  const int64_t llTotal = ZelLeMemoria().llTotal;
  for (const auto& l : linhas) {
    EXPECT_GT(std::stoll(Coluna(l, "MemoriaComponente")), 0) << l;
    EXPECT_EQ(std::stoll(Coluna(l, "MemoriaTotal")), llTotal) << l;
    EXPECT_GT(std::stoll(Coluna(l, "MemoriaDisponivel")), 0) << l;
    EXPECT_LT(std::stoll(Coluna(l, "MemoriaDisponivel")), llTotal) << l;
  }
  const size_t i = linhas[0].find("\t{");
  ASSERT_NE(i, std::string::npos);
  EXPECT_TRUE(Contem(sSaida, linhas[0].substr(i + 1, 38))) << "entry and exit share the GUID";
}

TEST_F(ZelProfilerTeste, SaidaSemPerformanceNemMemoryTemZerosEAtivacaoSoComCoCreateInstance) {
  EscreveLogIni("[Log]\nSaida=1\nZelDataBase=1\n");
  CZelProfilerEmpresa emp("EMP1");
  const auto Chama = [&] {
    CZelProfiler prof(&emp);
    prof.Entrada("CZelDF_IEx::KeepAlive", {{"a", "b"}});
    Sleep(20);
  };
  Chama();
  auto linhas = Linhas(LogChamadas());
  ASSERT_EQ(linhas.size(), 1u) << "an exit-only configuration writes only exit lines";
  EXPECT_TRUE(Contem(linhas[0], "\tSAIU\t", "\t0\t0\ta = b\t"));

  EscreveLogIni("[Log]\nEntrada=1\nZelDataBase=1\n");
  CZelProfiler::Ativacao(&emp, "CZelDF_IEx::Cria", "Zel.Outro.1", "ZelOutro.dll");
  EXPECT_EQ(Linhas(LogChamadas()).size(), 1u);
  EscreveLogIni("[Log]\nCoCreateInstance=1\n");
  CZelProfiler::Ativacao(&emp, "CZelDF_IEx::Cria", "Zel.Outro.1", "ZelOutro.dll");
  linhas = Linhas(LogChamadas());
  ASSERT_EQ(linhas.size(), 2u);
  // An activation line has its own GUID.
  EXPECT_TRUE(Contem(linhas[1], "\tCZelDF_IEx::Cria\t{", "\tCOCREATE\t",
                     "\t0\t0\tProgID = Zel.Outro.1\tModulo = ZelOutro.dll\t"));
  // Memory alone measures memory, not time: the duration, two columns before the parameters, stays 0.
  EscreveLogIni("[Log]\nSaida=1\nMemory=1\nZelDataBase=1\n");
  Chama();
  std::vector<std::string> campos;
  std::istringstream linha(Linhas(LogChamadas()).back());
  for (std::string s; std::getline(linha, s, '\t');) campos.push_back(s);
  const auto it = std::find(campos.begin(), campos.end(), "a = b");
  ASSERT_GE(it - campos.begin(), 2);
  EXPECT_EQ(*(it - 2), "0") << "the duration";
}

TEST_F(ZelProfilerTeste, LogIniERelidoDepoisDoTimeoutConfig) {
  // 60 seconds: 600 ms at the tests' time scale.
  EscreveLogIni("[Log]\nEntrada=1\nTimeoutConfig=60\n");
  ASSERT_EQ(ZelLeLogConfig()->nEntrada, 1);
  std::ofstream(m_sModulos + "log.ini", std::ios::binary) << "[Log]\nEntrada=0\n";
  EXPECT_EQ(ZelLeLogConfig()->nEntrada, 1) << "read again only once the period is over";
  Sleep(ZelTempoMs(60000) + 50);
  EXPECT_EQ(ZelLeLogConfig()->nEntrada, 0);
  EXPECT_EQ(ZelLeLogConfig()->nTimeoutConfig, 600) << "each reading sets every key anew";
}

TEST_F(ZelProfilerTeste, ArquivoDeErrosDaEmpresaVemDoServicoDeCaminhosOuDoDiretorioDoProfiler) {
  // With the connection library answering, the registry's DF value is not used.
  const std::string sOutro = ZelNovoDiretorio("sdatabase");
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "UtilizarZelSDataBase", 1), ERROR_SUCCESS);
  Chave("\\ZelSDataBase\\Empresas\\EMP1", "1", sOutro);
  CZelPath::ReleConfiguracao();
  CZelProfilerEmpresa emp("EMP1");
  ZelTraceHR(&emp, "F", "A", 1, "hr = x", "hr", E_FAIL);
  EXPECT_EQ(ArquivoErrosEmpresa().rfind(sOutro, 0), 0u) << ArquivoErrosEmpresa();
  EXPECT_EQ(Linhas(ArquivoErrosEmpresa()).size(), 1u);
  EXPECT_FALSE(ZelExisteArquivo(CZelPath::Junta(m_sEmpresa, CZelPath::GetNome(ArquivoErrosEmpresa()))));
  // A profiler directory in the registry comes first.
  const std::string sDir = ZelDiretorioTeste() + "profiler";
  Chave("", "DiretorioZelProfiler", sDir);
  EXPECT_EQ(ZelCaminhoLogChamadas(), sDir + "/ZelProfiler") << "the directory is named without its separator";
  ZelTraceHR(&emp, "F", "A", 1, "hr = x", "hr", E_FAIL);
  EXPECT_EQ(ArquivoErrosEmpresa().rfind(sDir + "/EMP1/ZelProfilerErros_Base_", 0), 0u);
  EXPECT_EQ(Linhas(ArquivoErrosEmpresa()).size(), 1u);
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "UtilizarZelSDataBase", 0), ERROR_SUCCESS);
  CZelPath::ReleConfiguracao();
}
