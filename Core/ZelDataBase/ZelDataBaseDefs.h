// Types, modes and result codes of the record-database engine.
#pragma once

#include <cstdint>

#include "ZelCatalogoModulos.h"
#include "ZelCom.h"

using ZelUInt = uint64_t;
using ZelUShort = uint16_t;

constexpr ZelUInt ZELDATABASE_POSICAO_NOVO_REGISTRO = 0;
// Header version whose records start after the 240-byte header.
constexpr ZelUShort ZELDATABASE_VERSAO_ARQUIVO = 1;
constexpr size_t ZELDATABASE_TAMANHO_CABECALHO = 240;
constexpr size_t ZELDATABASE_BYTES_CABECALHO_LIDOS = 24;
// Shrink release of this program.
constexpr ZelUShort ZELDATABASE_VERSAO_SHRINK = 138;
constexpr const char* ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS = "ZELDATABASE_FILE_CTRL.dat";
// Company name of the engine's own work: never audited.
constexpr const char* ZELDATABASE_EMPRESA_INTERNA = "ZelDataBase-C37543B5-8F6A-4B3E-9216-AF78C8AC031F";
constexpr _ZelModulo ZEL_ZELDATABASE_SEM_AUDITORIA = -8;

// The value is the file-open flag word.
enum class EZelDataBase_ModoAbertura : uint32_t {
  eModoInvalido = 0,
  eModoLeituraGravacao = 0x2022,
  eModoLeituraSemBloqueio = 0x2040,
  eModoLeituraGravacaoCriacao = 0x3022,
};

// File errors of opening, loading and writing.
constexpr HRESULT eEndOfFile = HR(0x80043E95);
constexpr HRESULT eBadSeek = HR(0x80043E8C);
constexpr HRESULT eHardIO = HR(0x80043EA7);
constexpr HRESULT eFileNotFound = HR(0x80043EB7);
constexpr HRESULT eBadPath = HR(0x80043EBF);
constexpr HRESULT eTooManyOpenFiles = HR(0x80043EC7);
constexpr HRESULT eAccessDenied = HR(0x80043ED0);
constexpr HRESULT eZelReadOnly = HR(0x80043ED1);
constexpr HRESULT eInvalidFile = HR(0x80043EE2);
constexpr HRESULT eDirectoryFull = HR(0x80043EE5);
constexpr HRESULT eSharingViolation = HR(0x80043EEE);
constexpr HRESULT eLockViolation = HR(0x80043F00);
constexpr HRESULT eDiskFull = HR(0x80043F08);
constexpr HRESULT eZelGenericError = HR(0x80043F10);

constexpr HRESULT E_ZELCR_VERSAO_BASE_DADOS_POSTERIOR = HR(0x810809C7);
constexpr HRESULT E_ZELCR_INCONSISTENCIA_CHAVE_QUANTIDADE = HR(0x810809CA);
constexpr HRESULT E_ZELCR_ARQUIVO_TRA_ENCONTRADO = HR(0x810809CB);
constexpr HRESULT E_ZELCR_ERRO_RENOMEAR_ARQUIVO = HR(0x810809D6);
constexpr HRESULT E_ZELCR_ARQUIVO_NAO_EH_MOD_ESTRUTURA = HR(0x810809D8);
constexpr HRESULT E_ZELCR_TENTATIVA_LER_POSICAO_ZERO = HR(0x810809D9);
constexpr HRESULT E_ZELCR_POSICAO_LEITURA_SUPERIOR_QUANTIDADE_ARQUIVO = HR(0x810809DA);
constexpr HRESULT E_ZELCR_POSICAO_GRAVACAO_SUPERIOR_QUANTIDADE_ARQUIVO = HR(0x810809DB);
constexpr HRESULT E_ZELCR_ARQUIVO_NAO_EXISTE = HR(0x810809E3);
constexpr HRESULT E_ZELCR_ARQUIVO_SINGLE_REG_NAO_TEM_TAMANHO_ESTRUTURA = HR(0x810809E7);
constexpr HRESULT E_ZELCR_ERRO_DELETAR_ARQUIVO = HR(0x810809F2);
constexpr HRESULT E_ZELCR_INCONSISTENCIA_CONTROLE_CRIACAO_ARQUIVOS = HR(0x81080A50);
constexpr HRESULT E_ZELCR_DIRETORIO_DADOS_NAO_ENCONTRADO = HR(0x81080A5F);
constexpr HRESULT E_ZELCR_COLUNA_INDEXACAO_INVALIDA = HR(0x81080AA9);
constexpr HRESULT E_ZELCR_INDEXACAO_COM_POSICAO_ZERO = HR(0x81080AAC);
constexpr HRESULT E_ZELCR_CHAVE_DE_INDEXACAO_REPETIDA = HR(0x81080AAD);
constexpr HRESULT E_ZELCR_ARQUIVO_TEXTO_QUANTIDADE_CARACTERES_INVALIDA = HR(0x81080C5E);
constexpr HRESULT E_ZELCR_ARQUIVO_SRK_ENCONTRADO = HR(0x81080D05);
constexpr HRESULT E_ZELCR_VERSAO_SHRINK_POSTERIOR = HR(0x81080E80);

// Audit records of deletions.
constexpr int kTipoRegistroAuditoria = 1;
constexpr int kServicoZelDataBase = 1;

// DWORD markers under the suite key of the marking condition: the backup
// program sets the first while it runs; the second asks for marking always.
constexpr const char* kMarcadorBackupZel = "ZelBackupEmExecucao";
constexpr const char* kMarcadorMarcaSempre = "ZelMarcaMutexSempre";
