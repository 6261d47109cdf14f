// The server's identity and registration scripts: 100 registers the
// application identity, 101 the class. Any host of the class (the service or
// the test server) registers with these, so a client finds whichever is
// registered under the one class identity.
#pragma once

#include "ZelDF_IEx.h"

inline constexpr GUID APPID_Tolvan = {0x080EB0B0, 0x3BED, 0x4086, {0x9C, 0xB4, 0x1C, 0x68, 0xBD, 0x93, 0x19, 0x7D}};

inline constexpr const char* kScriptAplicacaoTolvan = R"(HKCR
{
	NoRemove AppID
	{
		'%APPID%' = s 'Tolvan'
		'Tolvan.EXE'
		{
			val AppID = s '%APPID%'
		}
	}
}
)";

inline constexpr const char* kScriptClasseZelDF_IEx = R"(HKCR
{
	Tolvan.ZelDF_IEx.1 = s 'ZelDF_IEx Class'
	{
		CLSID = s '{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A}'
	}
	Tolvan.ZelDF_IEx = s 'ZelDF_IEx Class'
	{
		CLSID = s '{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A}'
		CurVer = s 'Tolvan.ZelDF_IEx.1'
	}
	NoRemove CLSID
	{
		ForceRemove {AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A} = s 'ZelDF_IEx Class'
		{
			ProgID = s 'Tolvan.ZelDF_IEx.1'
			VersionIndependentProgID = s 'Tolvan.ZelDF_IEx'
			ForceRemove Programmable
			LocalServer32 = s '%MODULE%'
			TypeLib = s '{CDE3E167-129C-4B65-85E0-8643D1B709B6}'
			val AppID = s '%APPID%'
		}
	}
}
)";
