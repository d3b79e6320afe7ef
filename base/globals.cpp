#include "base/globals.h"

char SourcePath[kPathSize];
char ArchivePath[kPathSize];
char InstallDir[kPathSize];
char DestPath[2 * kPathSize];
char TempPath[kPathSize];
char MessageArgument[kPathSize];
char UninstallerPath[kPathSize];

bool IsNtFamily;
bool IsRelaunchCopy;
unsigned long RegistryView;
