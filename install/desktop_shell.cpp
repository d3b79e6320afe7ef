#include "install/desktop_shell.h"

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "base/globals.h"
#include "base/memory.h"
#include "base/system_libraries.h"

namespace {

// A BSTR without oleaut32: its byte length stands before its characters,
// which is all that the marshalling to the shell's process reads. Room for
// a command's arguments (1024 bytes) in any code page.
struct ShellText {
  DWORD bytes;
  WCHAR text[1024];
};

// Null when the text does not fit: cut, it would name something else.
BSTR shell_text(ShellText* out, const char* text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out->text, sizeof out->text / sizeof out->text[0]);
  out->bytes = static_cast<DWORD>(n - 1) * sizeof(WCHAR);
  return n > 0 ? out->text : nullptr;
}

void release(IUnknown* object) {
  if (object) object->Release();
}

}  // namespace

bool runs_elevated() {
  FARPROC call = loaded_library_call("shell32.dll", "IsUserAnAdmin");
  return call ? as_call<BOOL(WINAPI*)()>(call)() != FALSE : !IsNtFamily;
}

bool start_through_shell(const char* file, const char* arguments, const char* folder) {
  // The desktop's window, its browser, its view's automation object, and
  // the shell's application object behind it.
  IShellWindows* windows = nullptr;
  IDispatch* desktop = nullptr;
  IServiceProvider* services = nullptr;
  IShellBrowser* browser = nullptr;
  IShellView* view = nullptr;
  IDispatch* background = nullptr;
  IShellFolderViewDual* folder_view = nullptr;
  IDispatch* application = nullptr;
  IShellDispatch2* shell = nullptr;
  bool started = false;
  VARIANT empty = {};
  long window = 0;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                 reinterpret_cast<void**>(&windows))) &&
      windows->FindWindowSW(&empty, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK && desktop &&
      SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services))) &&
      SUCCEEDED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void**>(&browser))) &&
      SUCCEEDED(browser->QueryActiveShellView(&view)) &&
      SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(&background))) &&
      SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(&folder_view))) &&
      SUCCEEDED(folder_view->get_Application(&application)) &&
      SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(&shell)))) {
    ShellText* texts = nullptr;
    VARIANT parameters = {}, directory = {}, show = {};
    parameters.vt = directory.vt = VT_BSTR;
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    BSTR name = nullptr;
    if (alloc_zeroed(3 * sizeof(ShellText), &texts) &&
        (name = shell_text(&texts[0], file)) && (parameters.bstrVal = shell_text(&texts[1], arguments)) &&
        (directory.bstrVal = shell_text(&texts[2], folder)))
      started = SUCCEEDED(shell->ShellExecute(name, parameters, directory, empty, show));
    free_block(&texts);
  }
  IUnknown* objects[] = {shell, application, folder_view, background, view, browser, services, desktop, windows};
  for (IUnknown* object : objects) release(object);
  return started;
}
