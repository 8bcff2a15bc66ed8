// Numbers of the resources embedded in the launcher's own file.
#pragma once

#define IDR_THEME_JSON 209
#define IDR_CONFIG_LIVE 210
#define IDR_CONFIG_TEST 211
// The graphics wrapper's files, present only when the build is given them.
#define IDR_WRAPPER_DDRAW 213
#define IDR_WRAPPER_D3DIMM 214
#define IDR_WRAPPER_CONF 215
