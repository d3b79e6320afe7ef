// The wizard's page dialog procedures, one per page template.
#pragma once

#include <windows.h>

#include "ui/disk_space.h"

INT_PTR CALLBACK welcome_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK licence_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK setup_type_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK destination_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK ready_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK progress_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK finish_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK closing_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);

// WM_ENDSESSION of a session that ends: a running installation is taken back.
void session_ending();

// The folder in InstallDir checked as the destination page checks a typed
// one: made absolute, made when missing (after asking), left room for its
// backslash (which it then ends in), and the space check. kSpaceOk when it
// will do; otherwise the number of the message text that says why, or
// kFolderDeclined when the user would not have it made.
enum : int { kFolderDeclined = -1, kNoFolder = 5 };
int settle_install_folder();
