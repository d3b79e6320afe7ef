# The Win32 test programs; each is <name>.cpp here and runs under Wine.
set(KESTREL_WIN32_TESTS
  platform_win32_test
  command_line_test
  path_macros_test
  default_folder_test)
