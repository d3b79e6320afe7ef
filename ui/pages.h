// The wizard's page dialog procedures, one per page template.
#pragma once

#include <windows.h>

INT_PTR CALLBACK welcome_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK licence_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK setup_type_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK destination_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK ready_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK progress_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK finish_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK closing_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
