#include "fatbin_reader.h"

#include <elf.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

extern char** environ;

namespace {

// Container header: u32 magic, u16 version, u16 header size, u64 size of the
// entries that follow it.
constexpr uint32_t kContainerMagic = 0xBA55ED50;
constexpr uint64_t kContainerVersion = 1;
constexpr size_t kContainerHeaderSize = 16;

// Entry header, little-endian: u16 kind @0, u32 header size @4, u64 stored
// payload size (padded) @8, u32 compressed size @0x10, u32 SM @0x1c, u64 flags
// @0x28, u64 plain size @0x38. The header grows past 0x40 (0x50 for PTX, 0x70
// for sm_100 and later cubins) with fields not needed here; its size field
// says where the payload starts.
constexpr size_t kEntryHeaderMinSize = 0x40;
constexpr uint64_t kFlagLz4 = 0x2000;   // older toolkits
constexpr uint64_t kFlagZstd = 0x8000;  // nvcc 13

uint64_t load_le(const unsigned char* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

bool fail(std::string* why, const std::string& what) {
    *why = what;
    return false;
}

std::string sm_name(unsigned sm) { return "sm_" + std::to_string(sm); }

bool run_objcopy(const std::string& objcopy, const std::string& binary, const std::string& out,
                 std::string* why) {
    std::vector<std::string> args = {objcopy, "-O", "binary", "--only-section=.nv_fatbin",
                                     binary,  out};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, objcopy.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) return fail(why, objcopy + ": " + std::strerror(spawned));
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return fail(why, std::string("waitpid: ") + std::strerror(errno));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return fail(why, objcopy + " could not copy .nv_fatbin out of " + binary);
    }
    return true;
}

bool read_file(const std::string& path, std::vector<unsigned char>* bytes, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(why, path + ": " + std::strerror(errno));
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return fail(why, path + ": read failed");
    return true;
}

// Reads the entry at `at`, which has `room` bytes left in its container, and
// sets `length` to the bytes it spans.
bool read_entry(const unsigned char* at, size_t room, FatbinEntry* entry, size_t* length,
                std::string* why) {
    if (room < kEntryHeaderMinSize) return fail(why, "fatbin entry header is truncated");
    const uint64_t header_size = load_le(at + 4, 4);
    const uint64_t stored_size = load_le(at + 8, 8);
    if (header_size < kEntryHeaderMinSize || header_size > room ||
        stored_size > room - header_size) {
        return fail(why, "fatbin entry runs past its container");
    }
    entry->kind = static_cast<uint16_t>(load_le(at, 2));
    entry->sm = static_cast<unsigned>(load_le(at + 0x1c, 4));
    *length = header_size + stored_size;

    const uint64_t flags = load_le(at + 0x28, 8);
    const unsigned char* payload = at + header_size;
    const std::string who = sm_name(entry->sm) + " entry of kind " + std::to_string(entry->kind);
    if (flags & kFlagLz4) return fail(why, who + " is LZ4-compressed, which is not read here");
    if ((flags & kFlagZstd) == 0) {
        entry->payload.assign(payload, payload + stored_size);
        return true;
    }

    const uint64_t packed_size = load_le(at + 0x10, 4);
    const uint64_t plain_size = load_le(at + 0x38, 8);
    if (packed_size > stored_size) return fail(why, who + ": compressed size exceeds its payload");
    // The frame's own size must agree before it sizes the buffer.
    if (ZSTD_getFrameContentSize(payload, packed_size) != plain_size) {
        return fail(why, who + ": zstd frame size disagrees with the entry header");
    }
    entry->payload.resize(plain_size);
    const size_t got = ZSTD_decompress(entry->payload.data(), plain_size, payload, packed_size);
    if (ZSTD_isError(got)) return fail(why, who + ": zstd: " + ZSTD_getErrorName(got));
    if (got != plain_size) return fail(why, who + ": zstd frame is shorter than declared");
    return true;
}

}  // namespace

bool read_fatbin_section(const std::string& objcopy, const std::string& binary,
                         std::vector<unsigned char>* section, std::string* why) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/nv_fatbin-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return fail(why, path + ": " + std::strerror(errno));
    close(fd);
    const bool copied = run_objcopy(objcopy, binary, path, why) && read_file(path, section, why);
    if (unlink(path.c_str()) != 0 && copied) {
        return fail(why, path + ": " + std::strerror(errno));
    }
    if (copied && section->empty()) return fail(why, binary + " has no .nv_fatbin section");
    return copied;
}

bool parse_fatbin(const std::vector<unsigned char>& section, std::vector<FatbinEntry>* entries,
                  std::string* why) {
    entries->clear();
    size_t offset = 0;
    while (offset < section.size()) {
        const std::string where = " at offset " + std::to_string(offset);
        if (section.size() - offset < kContainerHeaderSize) {
            return fail(why, "truncated fatbin container" + where);
        }
        const unsigned char* head = section.data() + offset;
        if (load_le(head, 4) != kContainerMagic) return fail(why, "no fatbin container" + where);
        if (load_le(head + 4, 2) != kContainerVersion) {
            return fail(why, "fatbin container version " + std::to_string(load_le(head + 4, 2)) +
                                 " not understood" + where);
        }
        const uint64_t header_size = load_le(head + 6, 2);
        const uint64_t body_size = load_le(head + 8, 8);
        if (header_size < kContainerHeaderSize || header_size > section.size() - offset ||
            body_size > section.size() - offset - header_size) {
            return fail(why, "fatbin container" + where + " runs past the section");
        }
        const size_t end = offset + header_size + body_size;
        for (size_t at = offset + header_size; at < end;) {
            FatbinEntry entry{};
            size_t length = 0;
            if (!read_entry(section.data() + at, end - at, &entry, &length, why)) return false;
            entries->push_back(std::move(entry));
            at += length;
        }
        // Each linked object's container starts 8-byte aligned.
        offset = (end + 7) & ~size_t{7};
    }
    return true;
}

bool read_cubin_symbols(const std::vector<unsigned char>& cubin, std::vector<CubinSymbol>* symbols,
                        std::string* why) {
    Elf64_Ehdr header;
    if (cubin.size() < sizeof header) return fail(why, "cubin is shorter than an ELF64 header");
    std::memcpy(&header, cubin.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_machine != EM_CUDA) {
        return fail(why, "cubin is not a little-endian ELF64 CUDA object");
    }
    if (header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shoff > cubin.size() ||
        header.e_shnum > (cubin.size() - header.e_shoff) / sizeof(Elf64_Shdr) ||
        header.e_shstrndx >= header.e_shnum) {
        return fail(why, "cubin section header table is out of range");
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), cubin.data() + header.e_shoff,
                sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_NOBITS && (section.sh_offset > cubin.size() ||
                                              section.sh_size > cubin.size() - section.sh_offset)) {
            return fail(why, "cubin section data is out of range");
        }
    }
    const auto string_at = [&cubin](const Elf64_Shdr& table, uint64_t index, std::string* out) {
        if (index >= table.sh_size) return false;
        const char* start = reinterpret_cast<const char*>(cubin.data() + table.sh_offset + index);
        out->assign(start, strnlen(start, table.sh_size - index));
        return true;
    };

    const auto symtab = std::find_if(sections.begin(), sections.end(),
                                     [](const Elf64_Shdr& s) { return s.sh_type == SHT_SYMTAB; });
    if (symtab == sections.end()) return fail(why, "cubin has no symbol table");
    if (symtab->sh_entsize != sizeof(Elf64_Sym) || symtab->sh_link >= sections.size()) {
        return fail(why, "cubin symbol table is malformed");
    }
    const Elf64_Shdr& section_names = sections[header.e_shstrndx];
    const Elf64_Shdr& symbol_names = sections[symtab->sh_link];

    symbols->clear();
    for (size_t i = 0; i < symtab->sh_size / sizeof(Elf64_Sym); ++i) {
        Elf64_Sym raw;
        std::memcpy(&raw, cubin.data() + symtab->sh_offset + i * sizeof raw, sizeof raw);
        CubinSymbol symbol{};
        symbol.type = ELF64_ST_TYPE(raw.st_info);
        symbol.value = raw.st_value;
        symbol.size = raw.st_size;
        if (!string_at(symbol_names, raw.st_name, &symbol.name)) {
            return fail(why, "cubin symbol name is out of range");
        }
        if (raw.st_shndx != SHN_UNDEF && raw.st_shndx < sections.size()) {
            const Elf64_Shdr& home = sections[raw.st_shndx];
            if (!string_at(section_names, home.sh_name, &symbol.section)) {
                return fail(why, "cubin section name is out of range");
            }
            if (home.sh_type != SHT_NOBITS && raw.st_value <= home.sh_size &&
                raw.st_size <= home.sh_size - raw.st_value) {
                const unsigned char* data = cubin.data() + home.sh_offset + raw.st_value;
                symbol.bytes.assign(data, data + raw.st_size);
            }
        }
        symbols->push_back(std::move(symbol));
    }
    return true;
}
