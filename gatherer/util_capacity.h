// util_capacity.h - human-readable sizes of disks, file systems and memory.
#pragma once

/// count x unit_size bytes in units of powers of `unit` (1000 when 0): the
/// largest of TB, GB, MB, KB not above the size, with one decimal cut (not
/// rounded), as "%u.%u %s"; below one KB "%u bytes". Returns out.
char* calculate_storage_capacity(unsigned count, unsigned unit_size, char* out, int size,
                                 unsigned unit);
/// The same for a 64-bit count (disks of 2 TiB and more); a size beyond 64
/// bits counts as the largest 64-bit size.
char* calculate_storage_capacity64(unsigned long long count, unsigned unit_size, char* out, int size,
                                   unsigned unit);

/// count x unit_size bytes in units of powers of two: below 1 GB whole units
/// ("%u MB", "%u KB", "%u bytes", cut); from 1 GB up with two decimals,
/// rounded ("1.50 GB", "2.00 TB"). A product beyond 64 bits counts as the
/// largest 64-bit size. Returns out.
char* calculate_memory_size(unsigned long long count, unsigned long long unit_size, char* out,
                            int size);
