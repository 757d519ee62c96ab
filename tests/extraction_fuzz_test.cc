// The real unpacker against random archives: valid ones, truncated ones,
// hostile names, overlapping and out-of-file regions, absurd counts, sizes
// and offsets. Every archive lies in a folder beside a sentinel file and a
// sentinel directory, inside a parent that holds a sentinel too. After each
// run: the program ended with 0 or 1 and a transcript of a known shape that
// matches the archive, nothing outside the archive's own output directory
// changed, no temporary is left, and every file reported done holds its
// entry's bytes. Seeds are fixed, so a failure names an iteration that
// fails again the same way.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "pak_writer.h"
#include "test_support.h"

#ifndef _WIN32

namespace fs = std::filesystem;

namespace {

// Each run starts a process: this many archives, the same ones on every run,
// take a few seconds even under the sanitizers.
constexpr int kArchives = 100;
constexpr uint32_t kBaseSeed = 20240611;

struct GeneratedEntry {
    std::string name;  // the 256 stored bytes, descrambled, up to the first NUL
    int32_t size = 0;
    int32_t offset = 0;
};

struct GeneratedArchive {
    std::string bytes;
    std::vector<GeneratedEntry> entries;  // as the directory holds them, before any cut
    bool sound = true;                    // valid and safe: must unpack completely
};

const char* const kHostileNames[] = {
    "/abs", "\\abs", "..", "../up", "a/../../up", "a\\..\\up", "C:x", "x:stream", "ctl\x01", "tab\tname", "del\x7f",
    "con", "Aux.txt", "sub/lpt1", "nul .x", "COM9.log", "x/", "", ".", "./x", "a//b", "sub/x", "sub\\x", "...", "a.", "a ", "sub./x",
    "sentinel", "../sentinel", "..\\sentinel.d\\inside", "game.pak", "com0", "lpt",
};

// A plain name that the unpacker must accept: letters, digits, dots, dashes,
// spaces and high bytes, no separator. It starts with a letter that begins
// no device name, so it can never be one, and ends in no dot or blank,
// which Windows would drop.
std::string plain_name(std::mt19937& random) {
    static const std::string first = "bdefghijkmoqrstuvwxyzBDEFGHIJKMOQRSTUVWXYZ";
    static const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_ ~\xe9\x82";
    const size_t length = random() % (random() % 8 == 0 ? 200 : 12);
    std::string name(1, first[random() % first.size()]);
    for (size_t i = 0; i < length; ++i) name += alphabet[random() % alphabet.size()];
    if (name.back() == '.' || name.back() == ' ') name += first[random() % first.size()];
    return name;
}

// Writes entry `pick` back into the directory, unless a cut took it away.
void store_record(GeneratedArchive& archive, size_t pick) {
    const GeneratedEntry& entry = archive.entries[pick];
    if (8 + 264 * (pick + 1) <= archive.bytes.size())
        archive.bytes.replace(8 + 264 * pick, 264, pak_record(entry.name, entry.size, entry.offset));
}

// One archive from `seed`: a valid one with flat names, then, for most
// seeds, a few faults of random kinds laid over it.
GeneratedArchive generate(uint32_t seed) {
    std::mt19937 random(seed);
    const int count = static_cast<int>(random() % 7);
    std::vector<PakItem> items;
    for (int i = 0; i < count; ++i) {
        // Now and then a name repeats: the later entry must win.
        const bool repeat = i > 0 && random() % 6 == 0;
        std::string name = repeat ? items[random() % items.size()].name : plain_name(random);
        const size_t size = random() % 4 == 0 ? 0 : random() % (random() % 5 == 0 ? 70000 : 300);
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>(random());
        items.push_back({name, data});
    }
    GeneratedArchive archive;
    archive.bytes = make_pak(items);
    size_t data_at = 8 + 264 * items.size();
    for (const PakItem& item : items) {
        archive.entries.push_back({item.name, static_cast<int32_t>(item.data.size()), static_cast<int32_t>(data_at)});
        data_at += item.data.size();
    }
    const int faults = random() % 5 == 0 ? 0 : 1 + static_cast<int>(random() % 3);
    for (int f = 0; f < faults; ++f) {
        archive.sound = false;
        const int32_t huge_values[] = {-1, INT32_MIN, INT32_MAX, 0x7FFFFF00, -264, 8, 1 << 24};
        const size_t pick = archive.entries.empty() ? 0 : random() % archive.entries.size();
        switch (random() % 7) {
            case 0:  // a hostile name
            case 1:
                if (!archive.entries.empty()) {
                    std::string name = kHostileNames[random() % std::size(kHostileNames)];
                    if (random() % 8 == 0) name = std::string(255, 'L');
                    if (random() % 8 == 0) name = std::string(256, 'N');  // no NUL
                    archive.entries[pick].name = name;
                    store_record(archive, pick);
                }
                break;
            case 2:  // a region anywhere: overlapping, inside the directory, outside the file
                if (!archive.entries.empty()) {
                    GeneratedEntry& entry = archive.entries[pick];
                    entry.offset = random() % 3 == 0 ? huge_values[random() % std::size(huge_values)]
                                                     : static_cast<int32_t>(random() % (archive.bytes.size() + 50));
                    entry.size = random() % 3 == 0 ? huge_values[random() % std::size(huge_values)]
                                                   : static_cast<int32_t>(random() % (archive.bytes.size() + 50));
                    store_record(archive, pick);
                }
                break;
            case 3: {  // a count that disagrees with the directory
                const int32_t counts[] = {-1, INT32_MIN, INT32_MAX, 0x00FFFFFF, count + 1, count - 1, 0};
                if (archive.bytes.size() >= 8)
                    archive.bytes.replace(4, 4, pak_header(counts[random() % std::size(counts)]).substr(4));
                break;
            }
            case 4:  // cut short anywhere
                archive.bytes.resize(random() % (archive.bytes.size() + 1));
                break;
            case 5:  // a few bytes flipped anywhere
                for (int i = 0; i < 3 && !archive.bytes.empty(); ++i) {
                    char& byte = archive.bytes[random() % archive.bytes.size()];
                    byte = static_cast<char>(static_cast<unsigned char>(byte) ^ (1u << (random() % 8)));
                }
                break;
            default:  // a name with a subdirectory, which must already exist
                if (!archive.entries.empty()) {
                    archive.entries[pick].name = "sub/" + archive.entries[pick].name;
                    store_record(archive, pick);
                }
                break;
        }
    }
    // The directory as the unpacker will read it, bit flips and a changed
    // count included, as far as the file holds it.
    archive.entries.clear();
    const int32_t stored_count = archive.bytes.size() >= 8 ? stored_int32(archive.bytes.data() + 4) : 0;
    for (size_t i = 0; stored_count > 0 && i < static_cast<size_t>(stored_count) &&
                       8 + 264 * (i + 1) <= archive.bytes.size();
         ++i) {
        const size_t record = 8 + 264 * i;
        GeneratedEntry entry;
        for (size_t j = 0; j < 256; ++j) {
            const char plain = static_cast<char>(archive.bytes[record + j] ^ static_cast<char>(j));
            if (plain == '\0') break;
            entry.name += plain;
        }
        entry.size = stored_int32(archive.bytes.data() + record + 256);
        entry.offset = stored_int32(archive.bytes.data() + record + 260);
        archive.entries.push_back(entry);
    }
    return archive;
}

// Everything under `root` except the subtree `skip`: kind, link target, bytes.
std::map<std::string, std::string> snapshot(const fs::path& root, const fs::path& skip) {
    std::map<std::string, std::string> tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->path() == skip) {
            it.disable_recursion_pending();
            continue;
        }
        const std::string key = it->path().lexically_relative(root).string();
        if (it->is_symlink()) {
            tree[key] = "link " + fs::read_symlink(it->path(), error).string();
        } else if (it->is_directory()) {
            tree[key] = "dir";
        } else {
            tree[key] = "file " + read_file(it->path().string());
        }
    }
    return tree;
}

// Every temporary left anywhere below `root`.
std::vector<std::string> temporaries_below(const fs::path& root) {
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (is_temporary_name(it->path().filename().string())) found.push_back(it->path().string());
    }
    return found;
}

std::string range_line(const GeneratedEntry& entry) {
    char range[32];
    std::snprintf(range, sizeof range, "%.8X - %.8X: ", static_cast<uint32_t>(entry.offset),
                  static_cast<uint32_t>(entry.offset) + static_cast<uint32_t>(entry.size) - 1u);
    return range + entry.name + " ...";
}

// Checks the transcript against the known shapes for this archive and
// returns how many entries were reported done, or -1 with a failure added.
int check_transcript(const GeneratedArchive& archive, const ProcessResult& run) {
    const std::string& press = kPress;
    const std::string& out = run.output;
    if (out == "It isn't PAK file\n" + press || out == "broken PAK file\n" + press) {
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_TRUE(archive.bytes.size() < 8 || out[0] == 'I');
        return 0;
    }
    const std::string files =
        archive.bytes.size() >= 8 ? "files: " + std::to_string(stored_int32(archive.bytes.data() + 4)) + "\n" : "";
    if (files.empty() || out.rfind(files, 0) != 0) {
        ADD_FAILURE() << "unknown opening";
        return -1;
    }
    std::string rest = out.substr(files.size());
    if (rest == "broken PAK file\n" + press) {
        EXPECT_EQ(run.exit_status, 1);
        return 0;
    }
    if (rest.rfind("unsafe file name in entry ", 0) == 0) {
        const long number = std::strtol(rest.c_str() + 26, nullptr, 10);
        EXPECT_GE(number, 1);
        EXPECT_LE(static_cast<size_t>(number), archive.entries.size());
        EXPECT_EQ(rest, "unsafe file name in entry " + std::to_string(number) + "\n" + press);
        EXPECT_EQ(run.exit_status, 1);
        return 0;
    }
    int done = 0;
    for (const GeneratedEntry& entry : archive.entries) {
        if (rest == "successful.\n" + press) break;
        const std::string line = range_line(entry);
        if (rest.rfind(line, 0) != 0) {
            ADD_FAILURE() << "entry " << done + 1 << " reported as something else than " << line;
            return -1;
        }
        rest = rest.substr(line.size());
        if (rest.rfind("done.\n", 0) != 0) {
            EXPECT_TRUE(rest == "\nfile open error.\n" + press || rest == "\nfile write error.\n" + press);
            EXPECT_EQ(run.exit_status, 1);
            return done;
        }
        rest = rest.substr(6);
        ++done;
    }
    EXPECT_EQ(rest, "successful.\n" + press);
    EXPECT_EQ(run.exit_status, 0);
    return done;
}

// The output file an entry name leads to, "." and empty components dropped,
// so names that alias one file compare equal.
std::string normal_path(const std::string& name) {
    std::string path;
    std::string component;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/' && name[i] != '\\') {
            component += name[i];
            continue;
        }
        if (!component.empty() && component != ".") path += (path.empty() ? "" : "/") + component;
        component.clear();
    }
    return path;
}

}  // namespace

TEST(ExtractionFuzz, RandomArchivesNeverReachOutsideTheirOutputDirectory) {
    const ScratchInMemory in_memory;
    const ScratchDir scratch;
    const fs::path parent = scratch.root;
    const fs::path folder = parent / "work";
    const fs::path output = folder / "game";
    const std::string archive_path = (folder / "game.pak").string();
    ASSERT_TRUE(make_dir(folder.string()));
    ASSERT_TRUE(make_dir((folder / "sentinel.d").string()));
    ASSERT_TRUE(write_file((folder / "sentinel").string(), "sentinel beside the archive"));
    ASSERT_TRUE(write_file((folder / "sentinel.d" / "inside").string(), "sentinel in a directory"));
    ASSERT_TRUE(write_file((parent / "sentinel").string(), "sentinel in the parent"));

    int iterations = 0;
    int sound = 0;
    int completed = 0;
    for (; iterations < kArchives; ++iterations) {
        const uint32_t seed = kBaseSeed + static_cast<uint32_t>(iterations);
        SCOPED_TRACE("seed " + std::to_string(seed));
        const GeneratedArchive archive = generate(seed);
        ASSERT_TRUE(write_file(archive_path, archive.bytes));
        const std::map<std::string, std::string> before = snapshot(parent, output);

        const ProcessResult run = run_program(UNPACKER_PATH, {archive_path}, "\n");

        ASSERT_TRUE(run.exit_status == 0 || run.exit_status == 1) << run.exit_status << "\n" << run.output;
        const int done = check_transcript(archive, run);
        ASSERT_GE(done, 0) << run.output;
        ASSERT_EQ(snapshot(parent, output), before) << run.output;
        ASSERT_EQ(temporaries_below(parent), std::vector<std::string>{}) << run.output;

        // Every file reported done holds its entry's bytes, the last of
        // several entries with one name winning.
        std::map<std::string, const GeneratedEntry*> last_written;
        for (int i = 0; i < done; ++i) last_written[normal_path(archive.entries[static_cast<size_t>(i)].name)] = &archive.entries[static_cast<size_t>(i)];
        for (const auto& [path, entry] : last_written) {
            bool read_ok = false;
            const std::string bytes = read_file((output / path).string(), &read_ok);
            EXPECT_TRUE(read_ok) << path;
            const std::string expected = entry->size <= 0 ? std::string()
                                                           : archive.bytes.substr(static_cast<size_t>(entry->offset),
                                                                                  static_cast<size_t>(entry->size));
            ASSERT_EQ(bytes, expected) << path << "\n" << run.output;
        }
        if (archive.sound) {
            ++sound;
            ASSERT_EQ(run.exit_status, 0) << run.output;
            ASSERT_EQ(static_cast<size_t>(done), archive.entries.size());
            ASSERT_EQ(list_names(output.string()).size(), last_written.size());
        }
        if (run.exit_status == 0) ++completed;
        std::error_code error;
        fs::remove_all(output, error);
    }
    std::printf("%d random archives unpacked (%d sound, %d completed)\n", iterations, sound, completed);
}

#endif
