#include "journal/JournalChain.h"

#include "data/Value.h"

#include <algorithm>
#include <cstring>
#include <sqlite3.h>

namespace vx::journal {

// ---- the chain --------------------------------------------------------------

namespace {

// One value with its type, so that no two different columns hash alike:
// a type byte, then for numbers their 8 bytes, for texts and BLOBs their
// length and bytes.
void addValue(Sha256& s, sqlite3_value* v) {
    const int type = sqlite3_value_type(v);
    const auto tag = static_cast<std::uint8_t>(type);
    s.add(&tag, 1);
    std::uint8_t n[8];
    auto put = [&](std::uint64_t x) {
        for (int i = 0; i < 8; ++i)
            n[i] = static_cast<std::uint8_t>(x >> (56 - 8 * i));
        s.add(n, 8);
    };
    switch (type) {
    case SQLITE_INTEGER:
        put(static_cast<std::uint64_t>(sqlite3_value_int64(v)));
        break;
    case SQLITE_FLOAT: {
        const double d = sqlite3_value_double(v);
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        put(bits);
        break;
    }
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        // Bytes first: asking for the length first could convert the value.
        const void* p = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_value_text(v))
                                            : sqlite3_value_blob(v);
        const auto len = static_cast<std::uint64_t>(sqlite3_value_bytes(v));
        put(len);
        s.add(p, static_cast<std::size_t>(len));
        break;
    }
    default:
        break;
    }
}

Digest chainHash(std::string_view prev, sqlite3_value** content) {
    Sha256 s;
    s.add(prev);
    for (int i = 0; i < kChainedColumnCount; ++i)
        addValue(s, content[i]);
    return s.finish();
}

void chainHashFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc != kChainedColumnCount + 1) {
        sqlite3_result_error(ctx, "chain_hash: wrong number of arguments", -1);
        return;
    }
    const auto* p = static_cast<const char*>(sqlite3_value_blob(argv[0]));
    const std::string_view prev(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(argv[0])));
    const Digest d = chainHash(prev, argv + 1);
    if (auto* out = static_cast<Digest*>(sqlite3_user_data(ctx)))
        *out = d;
    sqlite3_result_blob(ctx, d.data(), static_cast<int>(d.size()), SQLITE_TRANSIENT);
}

std::string_view bytesOf(sqlite3_stmt* st, int col) {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(st, col));
    return {p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, col))};
}

std::string_view view(const Digest& d) {
    return {reinterpret_cast<const char*>(d.data()), d.size()};
}

std::string hexOf(std::string_view bytes) {
    Digest d{};
    if (bytes.size() != d.size())
        return "(" + std::to_string(bytes.size()) + " bytes)";
    std::memcpy(d.data(), bytes.data(), d.size());
    return hexDigest(d);
}

struct Reader {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    ~Reader() {
        sqlite3_finalize(st);
        sqlite3_close_v2(db);
    }
    bool prepare(const char* sql) {
        sqlite3_finalize(st);
        st = nullptr;
        return sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK;
    }
};

std::string rowName(std::int64_t id) {
    return "row " + std::to_string(id);
}

// Walks one file's chain from its start; false at a fault, which check
// then names.
bool verifyFile(const std::string& path, const std::string* before, ChainCheck& check,
                std::string& lastHash) {
    auto fault = [&](ChainCheck::Fault f, std::optional<std::int64_t> row, std::string message) {
        check.fault = f;
        check.file = path;
        check.row = row;
        check.message = path + ": " + message;
        return false;
    };
    Reader r;
    if (sqlite3_open_v2(path.c_str(), &r.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return fault(ChainCheck::Fault::Unreadable, {},
                     r.db ? sqlite3_errmsg(r.db) : "cannot be opened");
    sqlite3_busy_timeout(r.db, 2000);
    if (!r.prepare("SELECT id FROM events LIMIT 1"))
        return fault(ChainCheck::Fault::Unreadable, {},
                     std::string("not a station journal (") + sqlite3_errmsg(r.db) + ")");
    ChainCheck::File file;
    file.path = path;
    std::string start(32, '\0');
    // Rows up to this id were written before the journal kept a chain.
    std::int64_t oldRows = 0;
    if (r.prepare("SELECT start, continues, before FROM chain LIMIT 1") &&
        sqlite3_step(r.st) == SQLITE_ROW) {
        start = std::string(bytesOf(r.st, 0));
        const auto* c = reinterpret_cast<const char*>(sqlite3_column_text(r.st, 1));
        file.continues = c ? c : "";
        oldRows = sqlite3_column_int64(r.st, 2);
    }
    file.start = hexOf(start);
    check.files.push_back(file);
    ChainCheck::File& f = check.files.back();
    if (before && !before->empty() && start != *before)
        return fault(ChainCheck::Fault::NotContinued, {},
                     "its chain does not start from the last hash of the journal before it (it "
                     "starts from " +
                         f.start + ", the journal before ends with " + hexOf(*before) + ")");

    // A journal from before the chain has no hash column: every row is
    // unchained.
    const bool hashed = r.prepare(
        (std::string("SELECT id,link,hash,") + kChainedColumns + " FROM events ORDER BY id")
            .c_str());
    if (!hashed) {
        if (!r.prepare("SELECT count(*) FROM events") || sqlite3_step(r.st) != SQLITE_ROW)
            return fault(ChainCheck::Fault::Unreadable, {}, sqlite3_errmsg(r.db));
        f.rows = sqlite3_column_int64(r.st, 0);
        check.rows += f.rows;
        check.unchained += f.rows;
        return true;
    }
    std::string prev = start;
    std::optional<std::int64_t> prevId;
    auto follows = [&](std::string_view link) {
        return link.size() == kLinkBytes && prev.compare(0, kLinkBytes, link) == 0;
    };
    auto after = [&] { return prevId ? " (after " + rowName(*prevId) + ")" : std::string(); };
    // A row that does not follow the one before it: the row after it tells
    // whether it was inserted or rows before it were removed.
    std::optional<std::int64_t> stray;
    int rc;
    while ((rc = sqlite3_step(r.st)) == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(r.st, 0);
        ++f.rows;
        ++check.rows;
        const bool unhashed = sqlite3_column_type(r.st, 2) == SQLITE_NULL;
        if (unhashed && id <= oldRows) {
            ++check.unchained; // written before the journal kept a chain
            continue;
        }
        const std::string_view link = bytesOf(r.st, 1);
        if (stray) {
            if (follows(link))
                return fault(ChainCheck::Fault::Inserted, stray,
                             rowName(*stray) + " was inserted: it follows no row, and " +
                                 rowName(id) + " follows the row before it" + after());
            std::string gap;
            if (prevId && *stray > *prevId + 1)
                gap = "; ids " + std::to_string(*prevId + 1) + " to " + std::to_string(*stray - 1) +
                      " are missing";
            return fault(ChainCheck::Fault::Removed, stray,
                         rowName(*stray) + " does not follow the row before it" + after() +
                             ": rows were removed before it" + gap);
        }
        if (!follows(link)) {
            stray = id;
            continue;
        }
        sqlite3_value* content[kChainedColumnCount];
        for (int i = 0; i < kChainedColumnCount; ++i)
            content[i] = sqlite3_column_value(r.st, 3 + i);
        const Digest expected = chainHash(prev, content);
        if (unhashed || bytesOf(r.st, 2) != view(expected))
            return fault(ChainCheck::Fault::Changed, id,
                         rowName(id) +
                             " was changed: its content is not what its hash was made of");
        prev.assign(view(expected));
        lastHash = prev;
        prevId = id;
        ++check.chained;
        f.last = hexDigest(expected);
    }
    if (rc != SQLITE_DONE)
        return fault(ChainCheck::Fault::Unreadable, {}, sqlite3_errmsg(r.db));
    if (stray)
        return fault(ChainCheck::Fault::Removed, stray,
                     rowName(*stray) + ", the last, does not follow the row before it" + after() +
                         ": rows were removed before it, or it was inserted");
    return true;
}

} // namespace

Digest chainHash(const Digest& prev, sqlite3_value** content) {
    return chainHash(view(prev), content);
}

void registerChainFunction(sqlite3* db, Digest* last) {
    if (sqlite3_create_function_v2(db, "chain_hash", kChainedColumnCount + 1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC, last, chainHashFunction,
                                   nullptr, nullptr, nullptr) != SQLITE_OK)
        throw data::DbError(std::string("chain_hash: ") + sqlite3_errmsg(db));
}

ChainCheck verifyJournals(const std::vector<std::string>& paths) {
    ChainCheck check;
    // The next file must start where this one ended; a file with no
    // chained row leaves nothing to compare.
    std::string last;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string ended;
        if (!verifyFile(paths[i], i ? &last : nullptr, check, ended))
            break;
        last = ended;
    }
    return check;
}

void writeChainCheck(std::ostream& o, const ChainCheck& c) {
    if (c.intact())
        o << "Journal chain: intact";
    else
        o << "Journal chain: BROKEN: " << c.message;
    o << "\n  " << c.rows << " rows read, " << c.chained << " on the chain";
    if (c.unchained)
        o << ", " << c.unchained << " written before the journal kept a chain (not verifiable)";
    o << '\n';
    for (const auto& f : c.files) {
        o << "  " << f.path << ": " << f.rows << " rows, chain from " << f.start;
        if (!f.continues.empty())
            o << " (" << f.continues << ")";
        if (!f.last.empty() && f.path != c.file) // a broken file has no last hash to tell
            o << ", last hash " << f.last;
        o << '\n';
    }
}

} // namespace vx::journal
