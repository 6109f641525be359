// libarchive, loaded when tuk convert first needs it. Linked into the
// program, it and the ten libraries it pulls in (libxml2 and ICU among
// them) would be mapped and relocated at the start of every tuk command,
// which took about 40% of a short command's time.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <string>

// Every libarchive function tuk convert calls.
#define TUK_LIBARCHIVE_FUNCTIONS(X)                                           \
  X(archive_error_string)                                                     \
  X(archive_read_new) X(archive_read_free) X(archive_read_support_filter_all) \
  X(archive_read_support_format_all) X(archive_read_open_filename)            \
  X(archive_read_next_header) X(archive_read_data)                            \
  X(archive_write_new) X(archive_write_free) X(archive_write_open)            \
  X(archive_write_set_bytes_in_last_block) X(archive_write_header)            \
  X(archive_write_data) X(archive_write_close)                                \
  X(archive_write_set_format_pax_restricted) X(archive_write_set_format_zip)  \
  X(archive_write_set_format_7zip) X(archive_write_set_format_cpio_newc)      \
  X(archive_write_add_filter_gzip) X(archive_write_add_filter_bzip2)          \
  X(archive_write_add_filter_xz) X(archive_write_add_filter_zstd)             \
  X(archive_entry_new) X(archive_entry_free) X(archive_entry_pathname)        \
  X(archive_entry_pathname_utf8) X(archive_entry_filetype)                    \
  X(archive_entry_hardlink) X(archive_entry_is_data_encrypted)                \
  X(archive_entry_size_is_set) X(archive_entry_size)                          \
  X(archive_entry_set_pathname) X(archive_entry_set_filetype)                 \
  X(archive_entry_set_perm) X(archive_entry_set_size) X(archive_entry_set_mtime)

namespace tuk {

struct LibArchive {
#define TUK_LIBARCHIVE_POINTER(name) decltype(&::name) name = nullptr;
  TUK_LIBARCHIVE_FUNCTIONS(TUK_LIBARCHIVE_POINTER)
#undef TUK_LIBARCHIVE_POINTER
};

// The library with every function resolved, loaded on the first call and
// kept until the program ends; nullptr, with why in error, when it cannot
// be loaded.
const LibArchive* LoadLibArchive(std::string& error);

}  // namespace tuk
