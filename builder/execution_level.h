// The rights the stub and the uninstaller ask Windows for. Their manifest
// asks for administrator rights; a product installed per user asks for
// none. The build turns the one into the other in the copies it writes,
// in place and at the same length, so the programs' layout and stamped
// lengths stay as linked and the archive is untouched.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Turns the manifest's level="requireAdministrator" into level="asInvoker".
// False, with the image unchanged, when the image does not hold the built
// manifest's level exactly once (another program, or one changed already).
bool request_invoker_level(std::vector<uint8_t>* image);

// Where the built manifest's level stands in an image (its only place), for
// the setup that turns it into the invoker level itself when it installs
// per user: false when it is not there exactly once.
bool find_administrator_level(const std::vector<uint8_t>& image, uint32_t* at);

// Whether a stub image asks for administrator rights: its manifest holds
// the built level, not the invoker level the build may have put there.
// Answers false as well for an image with neither.
bool asks_for_administrator(const uint8_t* image, size_t size);
