// The system calls that the Windows programs make most often (three calls
// or more in the stub), declared again without dllimport: each call then
// goes to the import library's jump stub (call, then one jmp through the
// import address table) instead of reading the import address table
// itself. Per call that is one byte and one base relocation less, for one
// 8-byte stub per routine: from three calls on the relocations saved
// outweigh the stub's bytes. Included ahead of every source of the i686
// programs (CMakeLists.txt); a routine made dllimport elsewhere keeps
// working either way. RegSetValueExA and SetTimer are left out: the Win32
// tests record their calls through their import slots.
#pragma once
#include <windows.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
extern "C" {
LONG WINAPI RegCloseKey(HKEY hKey);
BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem);
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
BOOL WINAPI DeleteObject(HGDIOBJ ho);
LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
DWORD WINAPI GetLastError(VOID);
UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString);
BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName);
DWORD WINAPI GetTickCount(VOID);
LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam);
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI CloseHandle(HANDLE hObject);
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
HBRUSH WINAPI CreateSolidBrush(COLORREF color);
BOOL WINAPI DestroyWindow(HWND hWnd);
LRESULT WINAPI DispatchMessageA(CONST MSG* lpMsg);
BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable);
int WINAPI FillRect(HDC hDC, CONST RECT* lprc, HBRUSH hbr);
BOOL WINAPI FindClose(HANDLE hFindFile);
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
UINT WINAPI GetACP(void);
HANDLE WINAPI GetCurrentProcess(VOID);
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart);
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName);
HGDIOBJ WINAPI GetStockObject(int i);
DWORD WINAPI GetSysColor(int nIndex);
UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
void WINAPI OleUninitialize(void);
BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData);
BOOL WINAPI ReleaseMutex(HANDLE hMutex);
BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);
HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd);
VOID WINAPI SetLastError(DWORD dwErrCode);
UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow);
int WINAPIV wsprintfA(LPSTR, LPCSTR, ...);
}
#pragma GCC diagnostic pop
