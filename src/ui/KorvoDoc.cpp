#include "ui/KorvoDoc.h"

wxIMPLEMENT_DYNAMIC_CLASS(CKorvoDoc, wxDocument);
