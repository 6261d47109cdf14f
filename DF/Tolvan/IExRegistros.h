// The Vovi Dadi files' records, byte for byte as they lie on disk, the names
// of the files that hold them, and the result codes of the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "ZelCom.h"
#include "ZelDF_IEx.h"

// Data-file codes reach callers in the interface facility.
constexpr HRESULT IES_MAKE_HR(int iCodigo) { return HR(0x80040000u | static_cast<uint32_t>(iCodigo)); }

constexpr int IE_ERRO_VERSAO_DADOS_POSTERIOR = 2421;
constexpr int IE_ERRO_CONVERSAO = 2425;
constexpr HRESULT E_ZELDF_FALHA_ACESSAR_REGISTRY = HR(0x80043F59);

// The extension of every Vovi Dadi file and of the transfer files of the
// start-up conversion.
constexpr const char* kExtensaoIE = ".DAT";
constexpr const char* kExtensaoTransferenciaIE = ".TRA";

// Files of one record type. Record 0 of each is a zero header record.
struct IE_HDR_ARQ_V0 {
  static constexpr const char* kNomeArquivo = "DFIEHDR";
  UI4 dwFlags;
  UI4 eProcesso;
  UI4 nQtdCampos;
  UI4 iPtrCampos;
  UI8 ullCarimbo;  // local time of the last write, low 38 bits
  UI1 cReservado[32];
};
static_assert(sizeof(IE_HDR_ARQ_V0) == 56);
static_assert(offsetof(IE_HDR_ARQ_V0, eProcesso) == 4 && offsetof(IE_HDR_ARQ_V0, nQtdCampos) == 8);
static_assert(offsetof(IE_HDR_ARQ_V0, iPtrCampos) == 12 && offsetof(IE_HDR_ARQ_V0, ullCarimbo) == 16);
static_assert(offsetof(IE_HDR_ARQ_V0, cReservado) == 24);

struct IE_CAMPO_ARQ_V2 {
  static constexpr const char* kNomeArquivo = "DFIECMP";
  UI4 dwFlags;
  UI4 lPtrExtra;
  UI4 ulPtrUsuarios;
  I4 id;
  UI2 iQtdUsuarios;
  char szNome[51];
  UI1 cReservado[11];
};
static_assert(sizeof(IE_CAMPO_ARQ_V2) == 80);
static_assert(offsetof(IE_CAMPO_ARQ_V2, lPtrExtra) == 4 && offsetof(IE_CAMPO_ARQ_V2, ulPtrUsuarios) == 8);
static_assert(offsetof(IE_CAMPO_ARQ_V2, id) == 12 && offsetof(IE_CAMPO_ARQ_V2, iQtdUsuarios) == 16);
static_assert(offsetof(IE_CAMPO_ARQ_V2, szNome) == 18 && offsetof(IE_CAMPO_ARQ_V2, cReservado) == 69);

// The field record before the conversion to version 9. Its 32-bit user
// pointer is unaligned on disk, so it is read and written through bytes.
struct IE_CAMPO_ARQ_V1 {
  static constexpr const char* kNomeArquivo = "DFIECMP";
  UI4 dwFlags;
  UI4 lPtrExtra;
  I4 id;
  UI2 iQtdUsuarios;
  UI2 usPtrUsuarios;
  char szNome[51];
  UI1 cReservado;
  UI1 ulPtrUsuarios[4];
};
static_assert(sizeof(IE_CAMPO_ARQ_V1) == 72);
static_assert(offsetof(IE_CAMPO_ARQ_V1, id) == 8 && offsetof(IE_CAMPO_ARQ_V1, iQtdUsuarios) == 12);
static_assert(offsetof(IE_CAMPO_ARQ_V1, usPtrUsuarios) == 14 && offsetof(IE_CAMPO_ARQ_V1, szNome) == 16);
static_assert(offsetof(IE_CAMPO_ARQ_V1, cReservado) == 67 && offsetof(IE_CAMPO_ARQ_V1, ulPtrUsuarios) == 68);

struct IE_USUARIO_ARQ_V0 {
  static constexpr const char* kNomeArquivo = "DFIEUSU";
  UI2 usUsuario;
  UI1 cReservado[6];
};
static_assert(sizeof(IE_USUARIO_ARQ_V0) == 8);

struct IE_CAMPO_DATA_ARQ_V2 {
  UI1 BinaryData[8];  // for a text: offset (4 bytes) and length (2 bytes)
  I4 id;
  UI1 cReservado[36];
};
static_assert(sizeof(IE_CAMPO_DATA_ARQ_V2) == 48);
static_assert(offsetof(IE_CAMPO_DATA_ARQ_V2, id) == 8 && offsetof(IE_CAMPO_DATA_ARQ_V2, cReservado) == 12);

struct IE_VINCULO_ARQ_V0 {
  static constexpr const char* kNomeArquivo = "DFIEVINC";
  UI4 lPosHeader;
  UI4 lChave;
  UI4 nQtdCampos;
  UI4 iPtrCampos;
  UI4 ulExcluido;
  UI4 ulReservado;
};
static_assert(sizeof(IE_VINCULO_ARQ_V0) == 24);
static_assert(offsetof(IE_VINCULO_ARQ_V0, lChave) == 4 && offsetof(IE_VINCULO_ARQ_V0, nQtdCampos) == 8);
static_assert(offsetof(IE_VINCULO_ARQ_V0, iPtrCampos) == 12 && offsetof(IE_VINCULO_ARQ_V0, ulExcluido) == 16);
static_assert(offsetof(IE_VINCULO_ARQ_V0, ulReservado) == 20);

// Flag bits of the two integration records.
constexpr UI1 kBitInativoIntegracao = 0x01;
constexpr UI1 kBitExcluidoIntegracao = 0x02;

struct _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0 {
  static constexpr const char* kNomeArquivo = "DFIEINTCAB";
  UI4 eProcessoOrigem;
  UI4 eProcessoDestino;
  UI4 ulPonteiroPrimeiroVinculoIntegracao;
  UI4 ulQtdVinculosIntegracoes;
  UI1 cFlags;
  UI1 cReservado[63];
};
static_assert(sizeof(_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0) == 80);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0, ulPonteiroPrimeiroVinculoIntegracao) == 8);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0, ulQtdVinculosIntegracoes) == 12);
static_assert(offsetof(_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0, cFlags) == 16);
using REG_IE_CABECALHO_INTEGRACAO_ARQ = _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0;

struct _REG_IE_VINCULO_INTEGRACAO_ARQ_V0 {
  static constexpr const char* kNomeArquivo = "DFIEINTVINC";
  UI4 ulPosicaoCabecalhoIntegracao;
  UI4 ulPosicaoCampoOrigem;
  UI4 ulPosicaoCampoDestino;
  UI1 cFlags;
  UI1 cReservado[67];
};
static_assert(sizeof(_REG_IE_VINCULO_INTEGRACAO_ARQ_V0) == 80);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_ARQ_V0, ulPosicaoCampoDestino) == 8);
static_assert(offsetof(_REG_IE_VINCULO_INTEGRACAO_ARQ_V0, cFlags) == 12);
using REG_IE_VINCULO_INTEGRACAO_ARQ = _REG_IE_VINCULO_INTEGRACAO_ARQ_V0;

// The configuration file's one record: the data version of the company's files.
struct REG_IE_CONFIGURACAO_INFO_PLUS_ARQ {
  static constexpr const char* kNomeArquivo = "DFIECONFIG";
  static const char* GetFileNameComExtensaoDAT() { return "DFIECONFIG.DAT"; }
  UI4 ulVersao;
  UI1 cReservado[4092];
};
static_assert(sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ) == 4096);
using REG_IE_CONFIGURACAO_INFO_PLUS_PS = REG_IE_CONFIGURACAO_INFO_PLUS_ARQ;
constexpr UI4 kVersaoDadosIE = 9;

static_assert(std::is_trivially_copyable_v<IE_HDR_ARQ_V0> && std::is_trivially_copyable_v<IE_CAMPO_ARQ_V2> &&
              std::is_trivially_copyable_v<IE_CAMPO_ARQ_V1> && std::is_trivially_copyable_v<IE_USUARIO_ARQ_V0> &&
              std::is_trivially_copyable_v<IE_CAMPO_DATA_ARQ_V2> && std::is_trivially_copyable_v<IE_VINCULO_ARQ_V0> &&
              std::is_trivially_copyable_v<_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0> &&
              std::is_trivially_copyable_v<_REG_IE_VINCULO_INTEGRACAO_ARQ_V0>);

// The base name of a process's value file ("" for 68 and unknown values);
// its text file is the base name followed by "Text".
const char* IEGetNomeBaseProcesso(int eProcesso);
constexpr int kProcessosComArquivo = 69;  // 0 to 68, in the conversion's scan

// Conversions between file and service records: the fields named alike are
// copied, everything else is zero.
void IEConverte(const IE_HDR_ARQ_V0& arq, IE_HDR_PS* pPS);
void IEConverte(const IE_HDR_PS& ps, IE_HDR_ARQ_V0* pArq);
void IEConverte(const IE_CAMPO_ARQ_V2& arq, IE_CAMPO_PS* pPS);
void IEConverte(const IE_CAMPO_PS& ps, IE_CAMPO_ARQ_V2* pArq);
void IEConverte(const IE_CAMPO_DATA_ARQ_V2& arq, IE_CAMPO_DATA_PS* pPS);
void IEConverte(const IE_CAMPO_DATA_PS& ps, IE_CAMPO_DATA_ARQ_V2* pArq);
void IEConverte(const IE_VINCULO_ARQ_V0& arq, IE_VINCULO_PS* pPS);
void IEConverte(const _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0& arq, _REG_IE_CABECALHO_INTEGRACAO_PS* pPS);
void IEConverte(const _REG_IE_CABECALHO_INTEGRACAO_PS& ps, _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0* pArq);
void IEConverte(const _REG_IE_VINCULO_INTEGRACAO_ARQ_V0& arq, _REG_IE_VINCULO_INTEGRACAO_PS* pPS);
void IEConverte(const _REG_IE_VINCULO_INTEGRACAO_PS& ps, _REG_IE_VINCULO_INTEGRACAO_ARQ_V0* pArq);
