// Message boxes for the user. A plain pass to MessageBoxW (texts are UTF-8, paths in them may
// hold any character); kept in one place so that every
// report looks alike and the Windows tests can find and answer it.
#include "app/user_messages.h"

#include "app/wide_text.h"

int report_to_user(HWND owner, const char* text, const char* caption, UINT flags) {
    return MessageBoxW(owner, widen(text).c_str(), widen(caption).c_str(), flags);
}
