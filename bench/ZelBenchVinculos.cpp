#include "ZelBenchVinculos.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>

#include "IExRegistros.h"
#include "ZelBench.h"
#include "ZelCrc.h"
#include "ZelDF_IExServico.h"
#include "ZelLocalAtivacao.h"
#include "ZelRegistro.h"

namespace {
template <class T>
void Anexa(std::ofstream& f, const T& reg) {
  f.write(reinterpret_cast<const char*>(&reg), sizeof reg);
}
}  // namespace

IE_E_CAMPO ZelBenchIdDoCampo(UI4 i) {
  return i < 2 ? static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_TEXTO_0 + i) : IE_CAMPO_LIVRE_V8_0;
}

std::string ZelBenchEmpresaVinculos(int64_t n) {
  static std::set<int64_t> prontas;
  const std::string sEmpresa = "BENCHV" + std::to_string(n);
  if (prontas.count(n) != 0) return sEmpresa;
  const std::string sDir = ZelDiretorioBench() + sEmpresa + "/";
  const std::string sVovi = sDir + "VOVIDADI/";
  ZelCriaDiretorio(sVovi, true);
  ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\" + sEmpresa, "DF", sDir);
  {
    std::ofstream f(sVovi + "DFIECONFIG.DAT", std::ios::binary);
    REG_IE_CONFIGURACAO_INFO_PLUS_ARQ reg{};
    reg.ulVersao = kVersaoDadosIE;
    Anexa(f, reg);
  }
  {
    std::ofstream f(sVovi + "DFIEHDR.DAT", std::ios::binary);
    Anexa(f, IE_HDR_ARQ_V0{});
    IE_HDR_ARQ_V0 hdr{};
    hdr.eProcesso = IE_PROCESSO_FT_NF;
    hdr.nQtdCampos = kZelBenchCampos;
    hdr.iPtrCampos = 1;
    Anexa(f, hdr);
  }
  {
    std::ofstream f(sVovi + "DFIECMP.DAT", std::ios::binary);
    Anexa(f, IE_CAMPO_ARQ_V2{});
    for (UI4 i = 0; i < kZelBenchCampos; ++i) {
      IE_CAMPO_ARQ_V2 c{};
      c.id = ZelBenchIdDoCampo(i);
      std::snprintf(c.szNome, sizeof c.szNome, "Campo %u", i);
      Anexa(f, c);
    }
  }
  std::ofstream(sVovi + "DFIEUSU.DAT", std::ios::binary).write(std::string(8, '\0').data(), 8);
  std::ofstream(sVovi + "DFIEINTCAB.DAT", std::ios::binary).write(std::string(80, '\0').data(), 80);
  std::ofstream(sVovi + "DFIEINTVINC.DAT", std::ios::binary).write(std::string(80, '\0').data(), 80);
  {
    std::ofstream fVin(sVovi + "DFIEVINC.dat", std::ios::binary);
    std::ofstream fVal(sVovi + "FTIEXNF.DAT", std::ios::binary);
    std::ofstream fTxt(sVovi + "FTIEXNFText.DAT", std::ios::binary);
    Anexa(fVal, IE_CAMPO_DATA_ARQ_V2{});
    fTxt.put('\0');
    UI4 ulTexto = 1;
    for (int64_t k = 1; k <= n; ++k) {
      Anexa(fVin, IE_VINCULO_ARQ_V0{1, static_cast<UI4>(k), kZelBenchCampos,
                                    static_cast<UI4>((k - 1) * kZelBenchCampos + 1), 0, 0});
      for (UI4 i = 0; i < kZelBenchCampos; ++i) {
        IE_CAMPO_DATA_ARQ_V2 v{};
        v.id = ZelBenchIdDoCampo(i);
        if (i < 2) {
          std::memcpy(v.BinaryData, &ulTexto, 4);
          std::memcpy(v.BinaryData + 4, &kZelBenchTamanhoTexto, 2);
          fTxt << "texto de vinte bytes";
          ulTexto += kZelBenchTamanhoTexto;
        } else {
          const uint64_t ull = static_cast<uint64_t>(k) * 100 + i;
          std::memcpy(v.BinaryData, &ull, 8);
        }
        Anexa(fVal, v);
      }
    }
  }
  prontas.insert(n);
  return sEmpresa;
}

_REG_DF_INICIALIZAPS ZelBenchSessao(const std::string& sEmpresa) {
  _REG_DF_INICIALIZAPS r{};
  r.ulUsuario = 1;
  r.ulNumeroSessao = 1;
  r.ulLinhaFonte = 1;
  r.usVersaoMorvo = kVersaoMorvo;
  std::snprintf(r.szEmpresa, sizeof r.szEmpresa, "%s", sEmpresa.c_str());
  std::strcpy(r.szAplicativo, "bench");
  std::strcpy(r.szModuleName, "bench");
  std::strcpy(r.szArquivoFonte, "bench.cpp");
  r.cControle = 'B';
  r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao);
  return r;
}

IZelDF_IEx* ZelBenchCria(bool bServidor, const std::string& sEmpresa, const char* szServidor) {
  IZelDF_IEx* p = nullptr;
  HRESULT hr;
  if (bServidor) {
    static bool bRegistrado = [szServidor] {
      setenv("XDG_RUNTIME_DIR", ZelDiretorioBench().c_str(), 1);
      return std::system((std::string(szServidor) + " -RegServerPerUser").c_str()) == 0;
    }();
    if (!bRegistrado) return nullptr;
    hr = CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx, reinterpret_cast<void**>(&p));
  } else {
    hr = CZelDF_IEx::CriaInstancia(IID_IZelDF_IEx, reinterpret_cast<void**>(&p));
  }
  if (FAILED(hr)) return nullptr;
  if (p->Inicializa_Padrao(ZelBenchSessao(sEmpresa)) != S_OK) {
    p->Release();
    return nullptr;
  }
  return p;
}

IE_VINCULO_PS CZelBenchValores::Vinculo(UI4 lChave) {
  static char szTexto1[] = "Observa\xE7\xE3o do pedido", szTexto2[] = "Entregar pela manh\xE3";
  for (UI4 i = 0; i < kZelBenchCampos; ++i) {
    m_aValores[i] = IE_CAMPO_DATA_PS{};
    m_aValores[i].id = ZelBenchIdDoCampo(i);
    const uint64_t ull = uint64_t{lChave} * 7 + i;
    std::memcpy(m_aValores[i].BinaryData, &ull, 8);
  }
  m_aValores[0].pcTexto = szTexto1;
  m_aValores[0].ulTamanhoTexto = sizeof szTexto1;
  m_aValores[1].pcTexto = szTexto2;
  m_aValores[1].ulTamanhoTexto = sizeof szTexto2;
  return IE_VINCULO_PS{{1, lChave}, kZelBenchCampos, {}, m_aValores.data(), nullptr};
}
