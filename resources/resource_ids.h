// Numbers of the resources embedded in the launcher's own file.
#pragma once

#define IDR_THEME_JSON 209
#define IDR_CONFIG_LIVE 210
#define IDR_CONFIG_TEST 211
