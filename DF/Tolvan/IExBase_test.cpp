#include "IExBase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "IExAjuda_test.h"
#include "IExTeste.h"
#include "ZelRegistro.h"
#include "ZelTesteAjudante.h"

namespace {
using IExBaseTeste = IExTeste;

using Container = CZelDataBaseContainerFacade<CZelDataBase_DF_InfoExtras>;
Container& ContainerDaEmpresa() { return CIExBase::m_ContainerFacade(); }

bool EsperaFechar(const std::string& sEmpresa, int msLimite = 20000) {
  auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(msLimite);
  while (ContainerDaEmpresa().ExisteDataBase(sEmpresa)) {
    if (std::chrono::steady_clock::now() > fim) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// An object of the company (EMP1 unless named) started and let go without Finaliza; its conversions and links,
// when given; its base.
CZelDataBase_DF_InfoExtras* IniciaESolta(int nConversoes = -1, int nVinculos = -1, const char* szEmpresa = "EMP1") {
  CIExBaseTeste ie;
  EXPECT_EQ(ie.Inicializa(szEmpresa, 1, 1), S_OK);
  if (nConversoes >= 0) {
    EXPECT_EQ(ie.nConversoes, nConversoes);
  }
  if (nVinculos >= 0 && ie.m_pDataBase != nullptr) {
    EXPECT_EQ(ie.m_pDataBase->m_Vinculo.GetQtdRegistros(), static_cast<ZelUInt>(nVinculos));
  }
  return ie.m_pDataBase;
}

struct CBaseQueNaoFecha : CZelDataBase_DF_InfoExtras {
  HRESULT OnFinaliza() override {
    CZelDataBase_DF_InfoExtras::OnFinaliza();
    return E_ACCESSDENIED;
  }
};
// A bare facade over a database, counting its conversions.
template <class TBase>
class CFachada : public CZelDataBaseFacade<TBase, CZelBaseParaRotinas> {
 public:
  int nConversoes = 0;
  HRESULT ExecutaConversao() override {
    ++nConversoes;
    return S_OK;
  }
  HRESULT OnInicializa() override { return this->ZelDataBaseInicializa(); }
};
}  // namespace

TEST_F(IExBaseTeste, EmpresaNovaTerminaNaVersaoNoveSemVinculosNemTransferencias) {
  CIExBaseTeste ie;
  ASSERT_EQ(ie.Inicializa("EMP1", 3, 77), S_OK);
  EXPECT_EQ(ie.m_sLocalDados, m_sVovi);
  EXPECT_EQ(ie.nConversoes, 1);
  ASSERT_NE(ie.m_pDataBase, nullptr);
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), Configuracao(9));
  EXPECT_FALSE(Existe("DFIEVINC.DAT"));
  EXPECT_EQ(ie.m_pDataBase->m_Vinculo.GetQtdRegistros(), 0u);
  EXPECT_TRUE(ArquivosTRA().empty());
  EXPECT_TRUE(ie.m_ArqIE.EstaAberto());
  EXPECT_TRUE(ie.m_ArqCamposIE.EstaAberto());
  EXPECT_FALSE(ie.m_ArqUsuariosIE.EstaAberto()) << "the users' file opens on first use";
  EXPECT_EQ(ie.AbreArqUsuario(), S_OK);
  EXPECT_TRUE(ie.m_ArqUsuariosIE.EstaAberto());
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty());
  ASSERT_EQ(ie.Finaliza(), S_OK);
  EXPECT_FALSE(ie.m_ArqIE.EstaAberto());
  EXPECT_FALSE(ContainerDaEmpresa().ExisteDataBase("EMP1"));
}

TEST_F(IExBaseTeste, SegundoObjetoCompartilhaSemConverterNemRecarregar) {
  Escreve("DFIECONFIG.DAT", Configuracao(9));
  Escreve("DFIEVINC.dat", IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(2, 7), Vinculo(2, 8)}));
  CIExBaseTeste primeiro;
  ASSERT_EQ(primeiro.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(primeiro.nConversoes, 1);
  EXPECT_EQ(primeiro.m_pDataBase->m_Vinculo.GetQtdRegistros(), 2u);
  // A users' file that was never made is made on first use.
  EXPECT_FALSE(Existe("DFIEUSU.DAT"));
  EXPECT_EQ(primeiro.AbreArqUsuario(), S_OK);
  EXPECT_TRUE(Existe("DFIEUSU.DAT"));
  // A record that only a reload would see.
  Escreve("DFIEVINC.dat", IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(2, 7), Vinculo(2, 8), Vinculo(3, 1)}));
  CIExBaseTeste segundo;
  ASSERT_EQ(segundo.Inicializa("emp1", 2, 2), S_OK) << "a company name in another case is the same company";
  EXPECT_EQ(segundo.nConversoes, 0);
  EXPECT_EQ(segundo.m_pDataBase, primeiro.m_pDataBase);
  EXPECT_EQ(segundo.m_pDataBase->m_Vinculo.GetQtdRegistros(), 2u);
  EXPECT_EQ(ContainerDaEmpresa().GetReferencias("Emp1"), 2u);
  ASSERT_EQ(primeiro.Finaliza(), S_OK);
  EXPECT_TRUE(ContainerDaEmpresa().ExisteDataBase("EMP1")) << "still held by one object";
  EXPECT_EQ(ContainerDaEmpresa().GetReferencias("EMP1"), 1u);
  ASSERT_EQ(segundo.Finaliza(), S_OK);
  EXPECT_FALSE(ContainerDaEmpresa().ExisteDataBase("EMP1"));
  CZelDataBase_DF_InfoExtras* pNenhuma = nullptr;
  EXPECT_EQ(ContainerDaEmpresa().Finaliza("EMP1", pNenhuma), S_OK) << "a company that holds none gives back nothing";
  // Closed: the next start reads the file again; one let go without Finaliza gives the base back at once.
  IniciaESolta(1, 3);
  EXPECT_FALSE(ContainerDaEmpresa().GetFechamentoAdiado());
  EXPECT_FALSE(ContainerDaEmpresa().ExisteDataBase("EMP1"));
}

TEST_F(IExBaseTeste, FechamentoAdiadoGuardaABaseDuranteOSilencioEReusaNaReconexao) {
  // The switch is read once per process; an earlier test of it may have fixed it (ctest runs one test a process).
  EXPECT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "HabilitaTimerFecharArquivo", 1),
            ERROR_SUCCESS);
  if (!ContainerDaEmpresa().GetFechamentoAdiado()) GTEST_SKIP() << "the container was made before the switch was set";
  Escreve("DFIECONFIG.DAT", Configuracao(9));
  Escreve("DFIEVINC.dat", IEBytes(Vinculo(1, 1)));
  // The suite's documented quiet period, 50 s, scaled as every period is.
  const auto periodo = std::chrono::milliseconds(ZelTempoMs(50'000));
  CZelDataBase_DF_InfoExtras* const pBase = IniciaESolta();
  EXPECT_TRUE(ContainerDaEmpresa().ExisteDataBase("EMP1")) << "idle, not closed";
  EXPECT_EQ(ContainerDaEmpresa().GetReferencias("EMP1"), 0u);
  // Reconnecting within the quiet period neither converts nor reloads.
  Escreve("DFIEVINC.dat", IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(1, 1), Vinculo(1, 2)}));
  {
    CIExBaseTeste ie;
    ASSERT_EQ(ie.Inicializa("EMP1", 1, 1), S_OK);
    EXPECT_EQ(ie.nConversoes, 0);
    EXPECT_EQ(ie.m_pDataBase, pBase);
    EXPECT_EQ(ie.m_pDataBase->m_Vinculo.GetQtdRegistros(), 1u);
    // Held past several quiet periods: never closed under its holder.
    std::this_thread::sleep_for(3 * periodo);
    EXPECT_TRUE(ContainerDaEmpresa().ExisteDataBase("EMP1"));
    EXPECT_EQ(ContainerDaEmpresa().GetReferencias("EMP1"), 1u);
  }
  const auto inicio = std::chrono::steady_clock::now();
  ASSERT_TRUE(EsperaFechar("EMP1"));
  EXPECT_GE(std::chrono::steady_clock::now() - inicio, periodo / 2) << "closed only after the quiet period";
  IniciaESolta(1, 2, "emp1");  // named in another case, it closes all the same
  // Each release starts the period again: half a period after the first, a quarter after the second, still open.
  const auto quarto = periodo / 4;
  std::this_thread::sleep_for(quarto);
  IniciaESolta(0);
  std::this_thread::sleep_for(quarto);
  EXPECT_TRUE(ContainerDaEmpresa().ExisteDataBase("EMP1"));
  EXPECT_TRUE(EsperaFechar("EMP1"));
}

TEST_F(IExBaseTeste, DiretorioDaEmpresaCriadoOuRecusadoEFachadaQueNaoFechaOuSemEmpresa) {
  // Registered, so that only the name's own rule can refuse them.
  RegistraEmpresa("EMP\x7F", m_sEmpresa);
  RegistraEmpresa("EMP1\\X", m_sEmpresa);
  for (const char* szEmpresa : {"SEMREGISTRO", "../EMP1", "EMP1/..", "EMP1\\X", "EMP\x01", "EMP\n1", "EMP\x7F", ""})
    EXPECT_EQ(IEFalhaAoIniciar(HR(0x80043F59), szEmpresa), 0) << szEmpresa;
  EXPECT_FALSE(ZelExisteDiretorio(m_sVovi));
  EXPECT_TRUE(ErroContem("hr = E_ZELDF_FALHA_ACESSAR_REGISTRY"));
  // A registered directory is made with its parents; a file in its place fails.
  const std::string sFundo = ZelDiretorioTeste() + "nao/existe/ainda/";
  RegistraEmpresa("EMP2", sFundo);
  CIExBaseTeste ie;
  ASSERT_EQ(ie.Inicializa("EMP2", 1, 1), S_OK);
  EXPECT_TRUE(ZelExisteArquivo(sFundo + "VOVIDADI/DFIEHDR.DAT"));
  const std::string sArquivo = ZelDiretorioTeste() + "ocupado";
  ZelCriaMarcador(sArquivo);
  RegistraEmpresa("EMP3", sArquivo + "/");
  IEFalhaAoIniciar(E_FAIL, "EMP3");
  EXPECT_EQ(ZelLeArquivoInteiro(sArquivo), "");
  // A base that fails to close gives Finaliza its code and a line and is let go; no company: no conversion.
  CFachada<CBaseQueNaoFecha> fachada;
  ASSERT_EQ(fachada.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_NE(fachada.GetDataBase(), nullptr);
  EXPECT_EQ(fachada.Finaliza(), E_ACCESSDENIED);
  EXPECT_EQ(fachada.GetDataBase(), nullptr);
  EXPECT_FALSE(fachada.EstaInicializado());
  EXPECT_EQ(ErrosDe("CZelDataBaseFacade::OnFinaliza", "ZelDataBaseFacade",
                    "hr = m_ContainerFacade.Finaliza(GetEmpresa(), m_pDataBase)"),
            1);
  CFachada<CZelDataBase_DF_InfoExtras> semEmpresa;
  EXPECT_EQ(semEmpresa.Inicializa("", 1, 1), HR(0x810809CF));
  EXPECT_EQ(semEmpresa.nConversoes, 0);
  EXPECT_EQ(semEmpresa.GetDataBase(), nullptr);
  EXPECT_EQ(semEmpresa.GetModulo(), 0xFFFFFFFFu);
}

TEST_F(IExBaseTeste, PartidaFalhaNaoDeixaNadaAbertoEAProximaRecomeca) {
  // The configuration file cannot be created while a directory holds its name.
  CriaDiretorio();
  ASSERT_EQ(ZelCriaDiretorio(m_sVovi + "DFIECONFIG.DAT"), ERROR_SUCCESS);
  EXPECT_EQ(IEFalhaAoIniciar(E_FAIL), 1);
  EXPECT_EQ(ErrosDe("CZelDataBaseFacade::ExecutaConversaoInterno", "ZelDataBaseFacade", "hr = ExecutaConversao()"), 1);
  ASSERT_EQ(ZelExcluiDiretorio(m_sVovi + "DFIECONFIG.DAT"), ERROR_SUCCESS);
  CIExBaseTeste ie;
  ASSERT_EQ(ie.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(ie.nConversoes, 1);
  EXPECT_EQ(VersaoGravada(), 9u);
  ie.Finaliza();
  // A pending link transfer, whatever the case of its name, is found before the links without a header go.
  Escreve("DFIEVINC.dat", IEBytes(Vinculo(0, 1)));
  Escreve("dfievinc.TRA", IEBytes(Vinculo(1, 1)));
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(IEFalhaAoIniciar(HR(0x810809CB)), 1) << "nothing stays open, so each start converts again";
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(Vinculo(0, 1)));
  const std::string sInfoExtras = "CZelDataBase_DF_InfoExtras::";
  EXPECT_EQ(ErrosDe(sInfoExtras + "RemoverRegistrosZerados", "ZelDataBase_DF_InfoExtras",
                    "hr = E_ZELCR_ARQUIVO_TRA_ENCONTRADO"),
            2);
  EXPECT_EQ(ErrosDe(sInfoExtras + "OnInicializa", "ZelDataBase_DF_InfoExtras", "hr = RemoverRegistrosZerados()"), 2);
  ASSERT_EQ(ZelExcluiArquivo(m_sVovi + "dfievinc.TRA"), ERROR_SUCCESS);
  CIExBaseTeste semTransferencia;
  EXPECT_EQ(semTransferencia.Inicializa("EMP1", 1, 1), S_OK);
  semTransferencia.Finaliza();
  // Each later step that cannot make or open its file says which one.
  for (const auto& [szArquivo, szEtapa, szFuncao, szExpressao] :
       {std::tuple{"DFIEINTVINC.DAT", "hr = VerificaArquivosIntegracao()", "CIExBase::VerificaArquivosIntegracao",
                   "hr = arq.Abre('C')"},
        std::tuple{"DFIECMP.DAT", "hr = AbreArqCampoHeader()", "CIExBase::AbreArqCampoHeader",
                   "hr = m_ArqCamposIE.Abre('L', TRUE, false)"}}) {
    SCOPED_TRACE(szArquivo);
    ASSERT_EQ(ZelExcluiArquivo(m_sVovi + szArquivo), ERROR_SUCCESS);
    ASSERT_EQ(ZelCriaDiretorio(m_sVovi + szArquivo), ERROR_SUCCESS);
    IEFalhaAoIniciar(E_FAIL);
    EXPECT_EQ(ErrosDe("CIExBase::OnInicializa", "IExBase", szEtapa), 1);
    EXPECT_EQ(ErrosDe(szFuncao, "IExBase", szExpressao), 1);
    ASSERT_EQ(ZelExcluiDiretorio(m_sVovi + szArquivo), ERROR_SUCCESS);
  }
  // A damaged link file fails the start after the database opened: it is given back, the file never cut.
  const std::string sVinculos = IEBytes(Vinculo(1, 1)) + "xy";
  Escreve("DFIEVINC.dat", sVinculos);
  IEFalhaAoIniciar(HR(0x810809D8));
  EXPECT_EQ(Bytes("DFIEVINC.dat"), sVinculos);
}

// A partial record a crash left at a header, field or user file's end is no record; the next append covers it.
TEST_F(IExBaseTeste, RegistroParcialNoFimNaoContaEAProximaGravacaoOCobreMasCabecalhoApagadoNaoVolta) {
  {
    CIExBaseTeste ie;
    ASSERT_EQ(ie.Inicializa("EMP1", 1, 1), S_OK);
    IE_CAMPO_PS campo = IECampo(IE_CAMPO_LIVRE_V4_0, "Peso");
    UI2 aUsuarios[] = {4, 9};
    campo.iQtdUsuarios = 2;
    campo.pUsuarios = aUsuarios;
    ASSERT_EQ(IEGravaHeader(ie, IE_PROCESSO_FT_NF, {campo, IECampo(IE_CAMPO_LIVRE_TEXTO_0, "Obs")}), 1u);
  }
  const std::string sHeaders = Bytes("DFIEHDR.DAT"), sCampos = Bytes("DFIECMP.DAT"), sUsuarios = Bytes("DFIEUSU.DAT");
  Escreve("DFIEHDR.DAT", sHeaders + "abc");
  Escreve("DFIECMP.DAT", sCampos + IEZeros(20));
  Escreve("DFIEUSU.DAT", sUsuarios + "xyz");
  CIExBaseTeste ie;
  ASSERT_EQ(ie.Inicializa("EMP1", 1, 1), S_OK);
  UI4 lPos = 1;
  IE_HDR_PS h{};
  ASSERT_EQ(ie.LeIEHeader(1, &lPos, &h, 0), S_OK);
  EXPECT_EQ(IEDescreveHeader(h), "0 29 2 | 250 Peso 0 0 u4 u9 | 100 Obs 0 0 -");
  IELiberaCampos(h.pCampos, h.nQtdCampos);
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty());
  ASSERT_EQ(IEGravaHeader(ie, IE_PROCESSO_FT_PED, {IECampo(IE_CAMPO_HORA, "Hora")}), 2u);
  EXPECT_EQ(Bytes("DFIEHDR.DAT").size(), 3u * 56) << "the new header took the partial one's place";
  EXPECT_EQ(Bytes("DFIECMP.DAT").substr(0, sCampos.size()), sCampos);
  EXPECT_EQ(Bytes("DFIECMP.DAT").size(), sCampos.size() + 80);
  // A header file deleted once made does not come back empty.
  ASSERT_EQ(ie.Finaliza(), S_OK);
  ASSERT_EQ(ZelExcluiArquivo(m_sVovi + "DFIEHDR.DAT"), ERROR_SUCCESS);
  ASSERT_EQ(ZelExcluiArquivo(m_sVovi + "DFIEINTCAB.DAT"), ERROR_SUCCESS);
  IEFalhaAoIniciar(HR(0x80043EB7));  // the control file remembers DFIEHDR.DAT
  EXPECT_FALSE(Existe("DFIEHDR.DAT"));
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT"), IEZeros(80)) << "integration files are made again at every start";
}

ZEL_AJUDANTE(IniciaEmpresa) {
  ZelCriaMarcador(args[0] + ".pronto");
  if (!ZelEsperaArquivo(args[1], 20000)) return 2;
  CIExBaseTeste ie;
  HRESULT hr = ie.Inicializa("EMP1", 1, static_cast<long>(getpid()));
  if (hr != S_OK) return 3;
  return ie.m_pDataBase->m_Vinculo.GetQtdRegistros() == 2 ? 0 : 4;
}

TEST_F(IExBaseTeste, ProcessosOuObjetosIniciandoJuntosNuncaConvertemAoMesmoTempo) {
  // A second conversion would take record 0 away again, losing a real link.
  Escreve("DFIEVINC.DAT",
          IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(0, 0, 0, 0), Vinculo(1, 1), Vinculo(0, 9), Vinculo(2, 2)}));
  const std::string sLargada = ZelDiretorioTeste() + "largada";
  // A process holds the link file while its database is open; the other's retries must span that at real spacing.
  setenv("ZEL_ESCALA_TEMPO", "1", 1);
  std::vector<pid_t> aPids;
  for (int i = 0; i < 2; ++i) {
    std::string sNome = ZelDiretorioTeste() + "ajudante" + std::to_string(i);
    aPids.push_back(ZelIniciaAjudante("IniciaEmpresa", {sNome, sLargada}));
    ASSERT_TRUE(ZelEsperaArquivo(sNome + ".pronto"));
  }
  ZelCriaMarcador(sLargada);
  for (pid_t pid : aPids) EXPECT_EQ(ZelEsperaAjudante(pid, 60000), 0);
  setenv("ZEL_ESCALA_TEMPO", "0.01", 1);
  EXPECT_EQ(VersaoGravada(), 9u);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(1, 1), Vinculo(2, 2)}));
  EXPECT_TRUE(ArquivosTRA().empty());
  // Objects of one process starting together never convert at the same time.
  constexpr int kObjetos = 6;
  std::vector<CIExBaseTeste> aObjetos(kObjetos);
  std::vector<HRESULT> aResultados(kObjetos, E_FAIL);
  std::vector<std::thread> aThreads;
  for (int i = 0; i < kObjetos; ++i)
    aThreads.emplace_back([&, i] { aResultados[i] = aObjetos[i].Inicializa(i % 2 ? "EMP1" : "emp1", 1, i); });
  for (auto& t : aThreads) t.join();
  int nConversoes = 0;
  for (int i = 0; i < kObjetos; ++i) {
    EXPECT_EQ(aResultados[i], S_OK);
    EXPECT_EQ(aObjetos[i].m_pDataBase, aObjetos[0].m_pDataBase);
    nConversoes += aObjetos[i].nConversoes;
  }
  // A late object may check the version again, never while another converts.
  EXPECT_GE(nConversoes, 1);
  EXPECT_EQ(CIExBaseTeste::nMaximoEmCurso.load(), 1);
  EXPECT_EQ(VersaoGravada(), 9u);
  EXPECT_EQ(ContainerDaEmpresa().GetReferencias("EMP1"), static_cast<uint64_t>(kObjetos));
}
