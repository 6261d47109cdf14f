// Writing and reading an origin's values with the company's link file holding
// 10k or 1M links: GravaCamposVinculo of 10 values (2 of them texts) and
// BuscaVinculosByOrigem of 1,000 keys, through the service class in process
// and through the Tolvan server in its own process.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "IExRegistros.h"
#include "ZelBench.h"
#include "ZelCrc.h"
#include "ZelDF_IExServico.h"
#include "ZelLocalAtivacao.h"
#include "ZelRegistro.h"

namespace {
constexpr UI4 kCampos = 10;

template <class T>
void Anexa(std::ofstream& f, const T& reg) {
  f.write(reinterpret_cast<const char*>(&reg), sizeof reg);
}

IE_E_CAMPO IdDoCampo(UI4 i) { return i < 2 ? static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_TEXTO_0 + i) : IE_CAMPO_LIVRE_V8_0; }

// Company BENCHVn: one header of process FT_NF with 10 fields, and n origins
// (keys 1 to n) with 10 values each, 2 of them 20-byte texts, written as the
// service writes them.
std::string Empresa(int64_t n) {
  static std::map<int64_t, bool> prontas;
  const std::string sEmpresa = "BENCHV" + std::to_string(n);
  if (prontas[n]) return sEmpresa;
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
    hdr.nQtdCampos = kCampos;
    hdr.iPtrCampos = 1;
    Anexa(f, hdr);
  }
  {
    std::ofstream f(sVovi + "DFIECMP.DAT", std::ios::binary);
    Anexa(f, IE_CAMPO_ARQ_V2{});
    for (UI4 i = 0; i < kCampos; ++i) {
      IE_CAMPO_ARQ_V2 c{};
      c.id = IdDoCampo(i);
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
      Anexa(fVin, IE_VINCULO_ARQ_V0{1, static_cast<UI4>(k), kCampos, static_cast<UI4>((k - 1) * kCampos + 1), 0, 0});
      for (UI4 i = 0; i < kCampos; ++i) {
        IE_CAMPO_DATA_ARQ_V2 v{};
        v.id = IdDoCampo(i);
        if (i < 2) {
          const UI2 usTamanho = 20;
          std::memcpy(v.BinaryData, &ulTexto, 4);
          std::memcpy(v.BinaryData + 4, &usTamanho, 2);
          fTxt << "texto de vinte bytes";
          ulTexto += usTamanho;
        } else {
          const uint64_t ull = static_cast<uint64_t>(k) * 100 + i;
          std::memcpy(v.BinaryData, &ull, 8);
        }
        Anexa(fVal, v);
      }
    }
  }
  prontas[n] = true;
  return sEmpresa;
}

_REG_DF_INICIALIZAPS Sessao(const std::string& sEmpresa) {
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

// The object in process, or in the Tolvan server (registered per user in the
// run's own registry and runtime directory).
IZelDF_IEx* Cria(bool bServidor, const std::string& sEmpresa) {
  IZelDF_IEx* p = nullptr;
  HRESULT hr;
  if (bServidor) {
    static bool bRegistrado = [] {
      setenv("XDG_RUNTIME_DIR", ZelDiretorioBench().c_str(), 1);
      return std::system((std::string(ZEL_TOLVAN_SERVIDOR) + " -RegServerPerUser").c_str()) == 0;
    }();
    if (!bRegistrado) return nullptr;
    hr = CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx, reinterpret_cast<void**>(&p));
  } else {
    hr = CZelDF_IEx::CriaInstancia(IID_IZelDF_IEx, reinterpret_cast<void**>(&p));
  }
  if (FAILED(hr)) return nullptr;
  if (p->Inicializa_Padrao(Sessao(sEmpresa)) != S_OK) {
    p->Release();
    return nullptr;
  }
  return p;
}

void BM_GravaCamposVinculo(benchmark::State& state) {
  const bool bServidor = state.range(1) != 0;
  IZelDF_IEx* p = Cria(bServidor, Empresa(state.range(0)));
  if (p == nullptr) {
    state.SkipWithError("start failed");
    return;
  }
  char szTexto1[] = "Observação do pedido", szTexto2[] = "Entregar pela manhã";
  std::vector<IE_CAMPO_DATA_PS> aValores(kCampos);
  UI4 lChave = static_cast<UI4>(state.range(0));
  for (auto _ : state) {
    // New origins: each write appends a link and its chain.
    for (UI4 i = 0; i < kCampos; ++i) {
      aValores[i] = IE_CAMPO_DATA_PS{};
      aValores[i].id = IdDoCampo(i);
      const uint64_t ull = uint64_t{lChave} * 7 + i;
      std::memcpy(aValores[i].BinaryData, &ull, 8);
    }
    aValores[0].pcTexto = szTexto1;
    aValores[0].ulTamanhoTexto = sizeof szTexto1;
    aValores[1].pcTexto = szTexto2;
    aValores[1].ulTamanhoTexto = sizeof szTexto2;
    IE_VINCULO_PS v{{1, ++lChave}, kCampos, {}, aValores.data(), nullptr};
    if (p->GravaCamposVinculo(v) != S_OK) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  p->Release();
}
BENCHMARK(BM_GravaCamposVinculo)
    ->ArgsProduct({{10000, 1000000}, {0, 1}})
    ->ArgNames({"vinculos", "servidor"})
    ->Unit(benchmark::kMicrosecond);

void BM_BuscaVinculosByOrigem1000(benchmark::State& state) {
  const bool bServidor = state.range(1) != 0;
  const int64_t n = state.range(0);
  IZelDF_IEx* p = Cria(bServidor, Empresa(n));
  if (p == nullptr) {
    state.SkipWithError("start failed");
    return;
  }
  std::vector<UI4> aChaves(1000);
  std::vector<IE_VINCULO_PS> aVinculos(aChaves.size());
  UI4 ulInicio = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < aChaves.size(); ++i) aChaves[i] = static_cast<UI4>((ulInicio + i * 7919) % n + 1);
    ulInicio += 13;
    if (p->BuscaVinculosByOrigem(1, static_cast<UINT>(aChaves.size()), aChaves.data(), aVinculos.data()) != S_OK) {
      state.SkipWithError("read failed");
      break;
    }
    for (auto& v : aVinculos) {
      for (UINT i = 0; i < v.nQtdCampos; ++i) CoTaskMemFree(v.pCampos[i].pcTexto);
      CoTaskMemFree(v.pCampos);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(aChaves.size()));
  p->Release();
}
BENCHMARK(BM_BuscaVinculosByOrigem1000)
    ->ArgsProduct({{10000, 1000000}, {0, 1}})
    ->ArgNames({"vinculos", "servidor"})
    ->Unit(benchmark::kMillisecond);
}  // namespace
