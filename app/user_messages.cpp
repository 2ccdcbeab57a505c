// Message boxes for the user. A plain pass to MessageBoxA; kept in one place so that every
// report looks alike and the Windows tests can find and answer it.
#include "app/user_messages.h"

int report_to_user(HWND owner, const char* text, const char* caption, UINT flags) {
    return MessageBoxA(owner, text, caption, flags);
}
