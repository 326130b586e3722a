// Compiled once per program variant, with the server the build names.
#include "update/UpdateCheck.h"

const std::wstring UpdateServerBaseUrl = L"" ZV_UPDATE_SERVER;
