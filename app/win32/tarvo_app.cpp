// CTarvoApp, the application object of KVX-300: one copy per desktop, guarded by the named
// mutex "KVX-300.exe"; the main dialog run modally; the program's end when it closes.
#include <windows.h>

#include <objbase.h>

#include "dialog_framework.h"
#include "tarvodlg.h"
#include "transfer_state.h"

namespace {

// The one process-wide record of the transfer and the CSV writers.
TransferState transferState;

}  // namespace

class CTarvoApp : public win::Application {
 protected:
  bool InitInstance() override {
    // The shell's folder chooser needs COM on this thread.
    comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    singleInstanceMutex_ = CreateMutexW(nullptr, TRUE, L"KVX-300.exe");
    // A second copy ends at once and says nothing; a mutex that cannot be made guards nothing,
    // and the program runs all the same.
    if (GetLastError() == ERROR_ALREADY_EXISTS) return false;
    CTarvoDlg dialog(transferState);
    dialog.DoModal(nullptr);
    return false;
  }

  int ExitInstance() override {
    if (singleInstanceMutex_ != nullptr) {
      ReleaseMutex(singleInstanceMutex_);  // fails for a second copy, which never owned it
      CloseHandle(singleInstanceMutex_);
    }
    if (comStarted_) CoUninitialize();
    return win::Application::ExitInstance();
  }

 private:
  HANDLE singleInstanceMutex_ = nullptr;
  bool comStarted_ = false;
};

// The program's one application object, as the dialog framework expects it; what its
// constructor could throw would end the program before it starts anyway.
// NOLINTNEXTLINE(cert-err58-cpp)
CTarvoApp theApp;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return theApp.Run(instance);
}
