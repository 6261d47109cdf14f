// Shows what a newcomer can run today: a service object over a business
// class, initialised with a session record, kept alive, and a rejected
// record that leaves its error line in the company's monthly error file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "T_ZelUnknown.h"
#include "ZelArquivo.h"
#include "ZelDiretoriosSuite.h"
#include "ZelProfiler.h"
#include "ZelRegistro.h"

namespace {
class CDemonstracaoBase : public CZelBaseParaRotinas {};

class CDemonstracao : public T_ZelUnknown<IZelUnknown, CDemonstracaoBase> {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
};

_REG_DF_INICIALIZAPS Sessao(const char* szEmpresa) {
  _REG_DF_INICIALIZAPS r{};
  r.ulUsuario = 1;
  r.ulNumeroSessao = 4242;
  r.ulLinhaFonte = __LINE__;
  r.usVersaoMorvo = kVersaoMorvo;
  std::snprintf(r.szEmpresa, sizeof r.szEmpresa, "%s", szEmpresa);
  std::snprintf(r.szAplicativo, sizeof r.szAplicativo, "tolvan-demo");
  std::snprintf(r.szModuleName, sizeof r.szModuleName, "tolvan-demo");
  std::snprintf(r.szArquivoFonte, sizeof r.szArquivoFonte, "Demonstracao.cpp");
  r.cControle = 'B';
  r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao);
  return r;
}

// A suite installation of its own under the given directory, unless the
// registry already names one.
void PreparaInstalacao(const std::string& sBase) {
  if (ZelLeTextoZel("DiretorioModulos").empty()) {
    ZelCriaDiretorio(sBase + "/modulos", true);
    ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DiretorioModulos", sBase + "/modulos/");
  }
  if (ZelDiretorioDadosEmpresa("DEMO").empty()) {
    ZelCriaDiretorio(sBase + "/DEMO/DF", true);
    ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\DEMO", "DF",
                            sBase + "/DEMO/DF/");
  }
}
}  // namespace

int main(int argc, char** argv) {
  std::string sBase = argc > 1 ? argv[1] : "tolvan-demo";
  PreparaInstalacao(sBase);
  std::printf("Registry: %s\n", ZelArquivoRegistro(HKEY_LOCAL_MACHINE).c_str());

  CDemonstracao obj;
  if (FAILED(obj.FinalConstruct())) return 1;
  HRESULT hr = obj.Inicializa_Padrao(Sessao("DEMO"));
  std::printf("Inicializa_Padrao: 0x%08X (company %s, user %u, session %lu)\n", static_cast<unsigned>(hr),
              obj.GetEmpresa().c_str(), obj.GetUsuario(), obj.GetNumeroSessao());
  I4 bOK = 0;
  hr = obj.KeepAlive(&bOK);
  std::printf("KeepAlive: 0x%08X, pbOK = %d\n", static_cast<unsigned>(hr), bOK);

  auto velho = Sessao("DEMO");
  velho.usVersaoMorvo = 137;
  hr = obj.Inicializa_Padrao(velho);
  std::printf("Inicializa_Padrao with version 137: 0x%08X\n", static_cast<unsigned>(hr));

  _REG_DF_ERROPS erro{};
  obj.GetUltimoErro(&erro);
  std::printf("GetUltimoErro: hr = 0x%08X\n", static_cast<unsigned>(erro.hr));

  SYSTEMTIME st{};
  GetLocalTime(&st);
  std::string sArquivo = ZelCaminhoArquivoErros(obj.GetEmpresa(), st.wYear, st.wMonth);
  std::printf("Error line written to %s:\n", sArquivo.c_str());
  std::string s;
  CFile arq;
  if (arq.Open(sArquivo, CFile::modeRead | CFile::shareDenyNone)) {
    char buf[8192];
    for (UINT n; (n = arq.Read(buf, sizeof buf)) > 0;) s.append(buf, n);
  }
  size_t i = s.rfind('\n', s.size() >= 2 ? s.size() - 2 : 0);
  // The file holds Windows-1252; the terminal wants UTF-8.
  std::string sUtf8;
  for (unsigned char c : s.substr(i == std::string::npos ? 0 : i + 1)) {
    if (c < 0x80) {
      sUtf8 += static_cast<char>(c);
    } else {
      sUtf8 += static_cast<char>(0xC0 | (c >> 6));
      sUtf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  std::printf("%s", sUtf8.c_str());
  return hr == HR(0x81080BFD) ? 0 : 1;
}
