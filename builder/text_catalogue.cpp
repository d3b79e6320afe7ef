#include "builder/text_catalogue.h"

namespace {

// `text` for a text the program formats: a '%' of its own is written "%%".
std::string escape_percent(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? "%%" : std::string(1, c);
  return out;
}

}  // namespace

std::string platform_text(const std::string& product, uint32_t architecture) {
  std::string windows = architecture == kArchitectureX64     ? "a 64-bit version of Windows for x64 processors"
                        : architecture == kArchitectureArm64 ? "a 64-bit version of Windows for ARM64 processors"
                                                             : "a 64-bit version of Windows";
  // Shown as it stands, never formatted: a '%' in the name stays one.
  return (product.empty() ? "The product" : product) + " needs " + windows +
         ". It cannot be installed on this computer.";
}

TextLists default_texts(const std::string& product) {
  const bool named = !product.empty();
  const std::string name = named ? product : "the product";
  const std::string sentence_start = named ? product : "The product";
  TextLists t;
  // 0: welcome page. The closing page takes the list as well, but its
  // default template has none of the fields it fills.
  t[0] = {"Welcome",
          "Welcome to the setup of " + (named ? product : "this product") + ".",
          "This program installs " + name + " on your computer. It is recommended that you close all other "
          "programs before you go on.",
          "Press Next to continue, or Cancel to leave the setup.",
          ""};
  // 1: licence page. 1/1, the licence, comes from the project; without one
  // the page is passed over. 1/2 is the Next caption on it; 1/3 and 1/4
  // fill fields 1002 and 1003 of a licence template that has them.
  t[1] = {"Licence Agreement", "", "I &Agree", "", ""};
  // 2: destination page; 2/7 formats both space figures (megabytes).
  t[2] = {"Choose the Destination Folder",
          "Setup will install " + name + " in the folder below.",
          "To install it in another folder, enter its name or press Browse.",
          "",
          "",
          "Space required:",
          "Space available:",
          "%d MB"};
  // 3: ready page; 3/2 names the folder.
  t[3] = {"Ready to Install", "Setup is now ready to install " + name + ".",
          escape_percent(sentence_start) +
              " will be installed in:\r\n\r\n%s\r\n\r\nPress Install to begin, or Back to change the folder.",
          "", ""};
  // 4: progress page; 4/1 labels the file name, 4/2 stands below the bar;
  // 4/5 and 4/6 take their places while a cancelled or failed installation
  // is taken back.
  t[4] = {"Installing",
          "Copying:",
          "Please wait while Setup installs " + name + " on your computer.",
          "",
          "",
          "Undoing:",
          "Please wait while Setup takes back the changes it made to your computer."};
  // 5: finish page and the restart question. 5/4 frames the error report;
  // 5/8 stays empty: a text there asks for a restart after every run.
  t[5] = {"Setup Complete",
          "Setup has installed " + name + " on your computer.",
          "Press Open to read the notes on " + name + ".",
          "Press Next to close the setup.",
          "Setup could not complete the installation:\r\n\r\n%s",
          "&Open",
          "&Run the program now",
          "Some files will be replaced when Windows starts again. Restart Windows now?",
          ""};
  // 6: the program's messages; 6/0 is the setup's title.
  t[6] = {"Setup",
          "Choose Folder",
          "&Folder:",
          "Dri&ves:",
          "Checking the disk space...",
          "The destination folder cannot be created.",
          "The destination folder does not exist. Create it?",
          "Some files in the destination folder are read-only. Continue?",
          "File error",
          "The file %s cannot be made writable.",
          "",
          "There is not enough free space on the destination drive. Continue anyway?",
          "There is not enough memory to install " + name + ".",
          "Do you really want to cancel the installation?",
          "Do you really want to leave the setup?",
          "The installation was cancelled.",
          "The file %s cannot be opened.",
          "The file %s cannot be created.",
          "The setup data in %s cannot be read.",
          "The file %s cannot be written.",
          "The disk is full. The file %s cannot be written completely.",
          "The file %s is damaged: its checksum does not match.",
          "The file %s is in use and cannot be replaced.",
          "",
          "",
          "",
          "",
          "",
          "Please insert disk %d and press OK.",
          "A newer version of %s is already installed. Replace it with the older one?",
          "The file %s exists in another language. Replace it?",
          "The setup file is damaged: its data is missing or incomplete.",
          // 32 to 34: after a cancelled or failed installation was taken
          // back; 35: the error of another setup type's uninstaller.
          "Nothing was changed on your computer.",
          "These files are in use and could not be removed or restored:\r\n%s",
          "Run %s later to remove them.",
          "Setup could not remove the other installation of " + escape_percent(name) + ": its uninstaller %s did not "
          "succeed.",
          // From kFirstRemovalText on, only in a setup that removes the
          // other setup types' installations: what it removed ("%s" the
          // type's uninstall name), 39 in place of 32 after that, 40 the
          // progress page's text while an uninstaller runs, 41 the error
          // of one that does not end ("%s" its path), 42 one left running.
          "Before installing, Setup removed %s from your computer.",
          "Before installing, Setup removed %s from your computer; some of its files will be deleted when Windows "
          "restarts.",
          "Before installing, Setup removed %s from your computer, but some of its files or settings could not be "
          "removed.",
          "Nothing else was changed on your computer.",
          "Waiting for the uninstaller of %s to end...",
          "The uninstaller %s of the other installation did not end within five minutes. Setup stopped waiting for "
          "it.",
          "The uninstaller of %s had not ended when Setup stopped waiting for it; it may still be at work.",
          platform_text(product, kArchitectureX64Compatible),
          // 44 and 45 only in a setup that lets its user choose for whom it
          // installs: the question (Yes all users, No this user), and the
          // notice of one that installs for all users only. Neither is
          // formatted.
          "Install " + name + " for all users of this computer? That needs administrator rights.\r\n\r\nPress "
          "Yes to install it for all users, or No to install it for you alone.",
          sentence_start + " is installed for all users of this computer, which needs administrator rights. "
          "Press OK to go on."};
  // 7: button captions: Back, Next, Cancel, Next on the ready page, OK and
  // Cancel of the folder browser and the progress page, restart.
  t[7] = {"< &Back", "&Next >", "Cancel", "&Install", "OK", "Cancel", "&Restart"};
  // 9: setup type page; the choices are the setup types' captions.
  t[9] = {"Choose the Setup Type", "Choose how " + name + " is installed.", "", "", ""};
  return t;
}

const std::vector<TextFormat>& formatted_texts() {
  static const std::vector<TextFormat> formats = {
      {2, 7, "%d"},  {3, 2, "%s"},  {5, 4, "%s"},  {6, 9, "%s"},  {6, 16, "%s"}, {6, 17, "%s"},
      {6, 18, "%s"}, {6, 19, "%s"}, {6, 20, "%s"}, {6, 21, "%s"}, {6, 22, "%s"}, {6, 28, "%d"},
      {6, 29, "%s"}, {6, 30, "%s"}, {6, 33, "%s"}, {6, 34, "%s"}, {6, 35, "%s"},
      {6, 36, "%s"}, {6, 37, "%s"}, {6, 38, "%s"}, {6, 40, "%s"}, {6, 41, "%s"}, {6, 42, "%s"},
  };
  return formats;
}
