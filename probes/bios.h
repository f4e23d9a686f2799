// bios.h - readers of the BIOS segment: the printable BIOS version scan and
// the SMAPI BIOS interface (embedded controller version).
#pragma once

#include <cstdint>

/// The SMAPI register block, in the order the interface passes it.
struct smapi_regs {
  uint32_t eax, ebx, ecx, edx, esi, edi;
};

/// The first "number.number" text of the BIOS segment that carries a version
/// marker ("Ver", "Rev", "Rel", "v0".."v9", "v 0".."v 9"); a new array the
/// caller frees with delete[], or null when none is found.
char* get_bios_version();
/// The same scan over a segment image already read (test seam).
char* find_bios_version(const unsigned char* segment, unsigned long length);

/// The SMAPI BIOS call. This platform has no way to reach it (its port is
/// kept in CMOS, which is not read here), so it always fails and leaves the
/// register block as it was.
bool call_SMAPI(smapi_regs* regs);
/// The embedded controller version text into `buffer` (empty when the call
/// fails); returns `buffer`.
char* smapi_get_h8_version(char* buffer, int size);
/// Formats the answer of SMAPI function 6 into `buffer` (empty when its
/// return code is not 0); returns `buffer`.
char* smapi_format_h8_version(const smapi_regs& regs, char* buffer, int size);
