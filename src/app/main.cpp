#include "app/KorvoApp.h"

wxIMPLEMENT_APP(CKorvoApp);
