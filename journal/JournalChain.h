#pragma once

#include "data/Sha256.h"

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_value;

namespace vx::journal {

// The chain's hash is SHA-256.
using Digest = data::Digest;
using data::hexDigest;
using data::Sha256;
using data::sha256;

// The journal's rows form a chain: each row's hash is the SHA-256 of the
// hash before it and of its own content (every column but its id, its link
// and its hash, each with its SQLite type, so a number stored as text or an
// empty text where there was none is a change too). Its link is the first
// kLinkBytes of the hash before it: a row whose content was changed still
// links to the row before it, one that follows a removed or inserted row
// does not. The first row of a file follows the file's chain start (the
// table chain): the last hash of the journal the file continues, or zeros.
inline constexpr std::size_t kLinkBytes = 8;
inline constexpr const char* kChainedColumns =
    "t,kind,what,record,lo,hi,labels,code,raw,subject,backend,message";
inline constexpr int kChainedColumnCount = 12;

// The hash of a row that follows prev, its content given as the column
// values in kChainedColumns order.
Digest chainHash(const Digest& prev, sqlite3_value** content);

// Makes chain_hash(prev, t, kind, …, message) known to the connection, the
// insert's way of hashing a row with the hash it follows, read in the same
// statement; each hash made is also put in last, when given. Raises
// data::DbError.
void registerChainFunction(sqlite3* db, Digest* last = nullptr);

// The verification of one or more journal files, read in order as one
// chain: each file after the first must start from the last hash of the
// one before.
struct ChainCheck {
    enum class Fault {
        None,
        Changed,      // a row whose content or hash is not what was written
        Removed,      // rows missing before a row (it follows a row that is not there)
        Inserted,     // a row that follows no row, the row after it following the one before
        NotContinued, // a file that does not start where the one before ended
        Unreadable,   // a file that cannot be read as a journal
    };
    bool intact() const { return fault == Fault::None; }
    Fault fault = Fault::None;
    std::string file;                // the file of the first fault
    std::optional<std::int64_t> row; // the id of the row named
    std::string message;             // what was found, for a person
    std::int64_t rows = 0;           // rows read, in every file
    std::int64_t chained = 0;        // rows the chain covers
    // Rows written before the journal kept a chain, the first rows of a
    // file that had them when the chain began (any other row without a hash
    // is a fault).
    std::int64_t unchained = 0;
    struct File {
        std::string path;
        std::int64_t rows = 0;
        std::string start;     // the chain start, hex
        std::string continues; // what the file's chain continues, as the table chain says
        std::string last;      // the last hash, hex; "" when no row is chained
    };
    std::vector<File> files;
};

// Walks the chain of the files in order; stops at the first fault.
ChainCheck verifyJournals(const std::vector<std::string>& paths);

// "intact: …" or "BROKEN: …" and the figures, as lines of text.
void writeChainCheck(std::ostream& o, const ChainCheck& check);

} // namespace vx::journal
