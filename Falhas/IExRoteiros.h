// JSON lines (tolvan-cli's) that build a company with some of everything and
// read it back, shared by the fault tests and the file loaders' fuzz target.
#pragma once

inline const char* const kInicia = R"({"metodo":"Inicializa_Padrao","regps":{"ulUsuario":3,"ulNumeroSessao":9,"szEmpresa":"EMP1"}})";
inline const char* const kReinicia[] = {R"({"metodo":"Release"})", R"({"metodo":"CoCreateInstance"})", kInicia};

// A company with some of everything. The last records of every file (header
// 3, its field and user, origin 1/9, the second integration) belong to data
// that no later comparison reads, so cutting a file inside its last record
// leaves every compared record whole.
inline const char* const kMontagem[] = {
    kInicia,
    R"({"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_FT_NF","pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","szNome":"Obs","pUsuarios":[3,4]},{"id":"IE_CAMPO_LIVRE_V4_0","szNome":"Peso"}]}})",
    R"({"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_FT_PED","pCampos":[{"id":"IE_CAMPO_LIVRE_V4_0","szNome":"Total"},{"id":"IE_CAMPO_LIVRE_TEXTO_0","szNome":"Nota"}]}})",
    R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":7},"pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"primeiro"},{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"2A00000000000000"}]}})",
    R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":8},"pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"segundo texto"},{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"0700000000000000"}]}})",
    R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":2,"lChave":7},"pCampos":[{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"0500000000000000"},{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"ped"}]}})",
    R"({"metodo":"GravaCabecalhoIntegracao","ulPosicaoIn":0,"reg":{"eProcessoOrigem":"IE_PROCESSO_FT_NF","eProcessoDestino":"IE_PROCESSO_FT_PED"}})",
    R"({"metodo":"GravaVinculosCabecalhosIntegracao","pRegCabecalho":{"eProcessoOrigem":"IE_PROCESSO_FT_NF","eProcessoDestino":"IE_PROCESSO_FT_PED"},"pRegLista":{"pRegListaVinculos":[{"ulPosicaoCabecalhoIntegracao":1,"ulPosicaoCampoOrigem":0,"ulPosicaoCampoDestino":1},{"ulPosicaoCabecalhoIntegracao":1,"ulPosicaoCampoOrigem":1,"ulPosicaoCampoDestino":0}]}})",
    R"({"metodo":"GravaCabecalhoIntegracao","ulPosicaoIn":1,"reg":{"ulPonteiroPrimeiroVinculoIntegracao":1,"ulQtdVinculosIntegracoes":2,"eProcessoOrigem":"IE_PROCESSO_FT_NF","eProcessoDestino":"IE_PROCESSO_FT_PED"}})",
    R"({"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_CM_OC","pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","szNome":"Cauda","pUsuarios":[9]}]}})",
    R"({"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":9},"pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"cauda"},{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"0100000000000000"}]}})",
    R"({"metodo":"GravaCabecalhoIntegracao","ulPosicaoIn":0,"reg":{"eProcessoOrigem":"IE_PROCESSO_CM_OC","eProcessoDestino":"IE_PROCESSO_FT_PED"}})",
    R"({"metodo":"GravaVinculosCabecalhosIntegracao","pRegCabecalho":{"eProcessoOrigem":"IE_PROCESSO_CM_OC","eProcessoDestino":"IE_PROCESSO_FT_PED"},"pRegLista":{"pRegListaVinculos":[{"ulPosicaoCabecalhoIntegracao":2,"ulPosicaoCampoOrigem":0,"ulPosicaoCampoDestino":1}]}})",
    R"({"metodo":"Release"})",
};

// Reads of the records that damage to a file's last record leaves whole.
inline const char* const kLeituras[] = {
    R"({"metodo":"LeIEHeader","pPos":[1,2],"dwFlags":0})",
    R"({"metodo":"BuscaVinculosByOrigem","lPosHeader":1,"pChaves":[7,8]})",
    R"({"metodo":"BuscaVinculosByOrigem","lPosHeader":2,"pChaves":[7]})",
    R"({"metodo":"LeCabecalhoIntegracao","ulPosicao":1})",
    R"({"metodo":"LeVinculosCabecalhoIntegracao","pRegCabecalho":{"ulPonteiroPrimeiroVinculoIntegracao":1,"ulQtdVinculosIntegracoes":2}})",
    R"({"metodo":"GetVinculoByIntegracao","headerOrigem":{"eProc":"IE_PROCESSO_FT_NF"},"ulPosRegistroOrigem":7,"headerDestino":{"eProc":"IE_PROCESSO_FT_PED"}})",
};

// Every other method, including the scans that meet the damaged records.
inline const char* const kOutros[] = {
    R"({"metodo":"LeIEHeader","pPos":[3,4,5]})",
    R"({"metodo":"BuscaPtrsIEHeader","filtro":{"dwFlags":2,"eProc":"IE_PROCESSO_CM_OC"}})",
    R"({"metodo":"ExisteVinculo","lPosHeader":2})",
    R"({"metodo":"BuscaVinculosByOrigem","lPosHeader":1,"pChaves":[9,10]})",
    R"({"metodo":"NotificaExclusaoOrigem","origem":{"lPosHeader":2,"lChave":99}})",
    R"({"metodo":"GetPonteirosCabecalhoIntegracaoVoviDadi"})",
    R"({"metodo":"GetListaCabecalhosIntegracao","pregPonteiros":{"pPtrs":[1,2,3]}})",
    R"({"metodo":"ExisteCabecalhoIntegracao","regHeaderOrigem":{"eProc":"IE_PROCESSO_CM_OC"},"regHeaderDestino":{"eProc":"IE_PROCESSO_FT_PED"}})",
    R"({"metodo":"LeVinculosCabecalhoIntegracao","pRegCabecalho":{"ulPonteiroPrimeiroVinculoIntegracao":3,"ulQtdVinculosIntegracoes":2}})",
    R"({"metodo":"GetProcessoJaCadastradoNaIntegracao","header":{"eProc":"IE_PROCESSO_CM_OC"}})",
    R"({"metodo":"ExcluiIntegracoesQueUsamEsteProcesso","header":{"eProc":"IE_PROCESSO_MM_PLANO"}})",
};

