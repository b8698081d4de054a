// The card host's side of its protocol: serveCalls, the host's request
// reader, fed any byte stream as the program's requests, over an in-memory
// channel, on a card library of this target's own (FakeCard.h, loaded from
// its shared library by the host's CardLibrary, once per process).
//
//   u8 header     bit 0: the library cannot be loaded (a path nobody made)
//   then the requests, as the program would write them.
//
// Every reply is checked against a copy of the same card called directly
// with the same arguments in the same order: the exact bytes of each value
// reply (ConfigInfo's variables as the library left them); a kFailed reply,
// with the function's name and a reason of at most kMaxText bytes, for every
// call when the library is missing; for kMapBlocks an empty text exactly
// when the slots could be mapped; for ADResult one reply per call naming
// slots 1, 2, ... in turn, each slot holding what the card's call made of
// the slot before, with the span of what changed. serveCalls must return 1
// at the first request that is cut short or not one (an unknown op, slots
// of another size than the card's blocks, an ADResult beyond the slots),
// 0 when the stream ends between requests, and never crash.
//
// The host opens, read-write, whatever path a kMapBlocks request names, and
// this target may run as root: a path out of the input could open and map
// /etc/shadow. So no path from the input ever reaches the host. Before the
// host sees an input, the target reads it as requests the same way the host
// does and rewrites each kMapBlocks path to one of its own, chosen by the
// path's first byte: its slots file (large enough for any slots the fake
// card's shapes can need), an empty file, a file that does not exist in its
// own folder, a path of the longest length whose name no file system takes,
// or the empty path. The folder is made with mkdtemp, 0700, in /dev/shm. That reading could only be
// wrong if the host took the stream apart differently, so every read the host makes is checked
// against it: the host must read the same sizes in the same order, or the run stops before the host
// has a byte it was not meant to see.

#include "FakeCard.h"
#include "FuzzInput.h"
#include "driver/ToviraApi.h"
#include "driver/host/CardLibrary.h"
#include "driver/host/HostProtocol.h"
#include "driver/host/HostServer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace proto = hostproto;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "host requests: %s\n", what.c_str());
    std::abort();
}

// The largest slots the host can be asked for: a start the card accepts
// has at most kMaxElements, and every other size is refused by the host.
constexpr std::uint64_t kSlotsFileBytes =
    proto::mappingBytes(proto::blockSlots(fakecard::kMaxElements), fakecard::kMaxElements);

/// The target's own folder and files, made once per process.
class Files {
public:
    Files() {
        removeStale();
        // The process id in the name lets a later run find a folder whose
        // run stopped at a failure, which ends the process without cleaning up.
        std::string pattern = std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            fail(std::string("cannot make a folder in /dev/shm: ") + std::strerror(errno));
        m_dir = pattern;
        slots = m_dir + "/slots";
        empty = m_dir + "/empty";
        missing = m_dir + "/missing";
        // As long as a path may be, with a name no file system takes: the
        // host's reason, the path and the system's words, is longer than a
        // reply's text may be.
        tooLong = m_dir + "/" + std::string(proto::kMaxMapPath - m_dir.size() - 1, 'x');
        noLibrary = m_dir + "/libmissing.so";
        const int fd = ::open(slots.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const int none = ::open(empty.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || none < 0 || ::ftruncate(fd, static_cast<off_t>(kSlotsFileBytes)) != 0)
            fail(std::string("cannot make the slots' files: ") + std::strerror(errno));
        void* view = ::mmap(nullptr, kSlotsFileBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        ::close(none);
        if (view == MAP_FAILED)
            fail(std::string("cannot map the slots' file: ") + std::strerror(errno));
        m_view = static_cast<std::int16_t*>(view);
    }
    ~Files() {
        ::munmap(m_view, kSlotsFileBytes);
        remove(m_dir);
    }
    Files(const Files&) = delete;
    Files& operator=(const Files&) = delete;

    /// The slots as the host sees them once it maps the file.
    std::int16_t* view() const { return m_view; }

    std::string slots;
    std::string empty;
    std::string missing;
    std::string tooLong;
    std::string noLibrary;

private:
    static constexpr char kFolderPrefix[] = "/dev/shm/multibuf-fuzz-";

    // The two files this target makes, and its folder.
    static void remove(const std::string& dir) {
        ::unlink((dir + "/slots").c_str());
        ::unlink((dir + "/empty").c_str());
        ::rmdir(dir.c_str());
    }

    // Folders of runs whose process is gone: their slots file holds pages
    // of /dev/shm's memory.
    static void removeStale() {
        DIR* shm = ::opendir("/dev/shm");
        if (shm == nullptr)
            return;
        const std::string_view prefix = kFolderPrefix + std::strlen("/dev/shm/");
        std::vector<std::string> stale;
        while (const dirent* entry = ::readdir(shm)) {
            const std::string_view name = entry->d_name;
            if (name.substr(0, prefix.size()) != prefix)
                continue;
            const long pid = std::strtol(name.data() + prefix.size(), nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                stale.push_back("/dev/shm/" + std::string(name));
        }
        ::closedir(shm);
        for (const std::string& dir : stale)
            remove(dir);
    }

    std::string m_dir;
    std::int16_t* m_view = nullptr;
};

Files& files() {
    static Files f;
    return f;
}

// ---------------------------------------------------------------------------
// The input read as requests, the way the host reads them.

enum class MapTarget { None, Slots, Empty, Missing, TooLong, NoPath };

struct Request {
    std::uint32_t op = 0;
    bool whole = false;   // every byte of it is in the input
    bool refused = false; // the host stops at it whatever its state (unknown op, kind, path length)
    std::string args;     // its arguments as the host reads them
    // kMapBlocks
    std::uint32_t slots = 0;
    std::uint32_t elements = 0;
    std::uint32_t kind = 0;
    MapTarget target = MapTarget::None;
};

/// One read the host will make: its size, and the request it belongs to.
struct Read {
    std::size_t bytes;
    std::size_t request;
    bool last; // the request's last read: the host serves it next
};

struct Script {
    std::string stream; // what the host reads, the paths rewritten
    std::vector<Read> reads;
    std::vector<Request> requests;
};

std::size_t argumentBytes(std::uint32_t op, bool& known) {
    known = true;
    switch (op) {
    case proto::kConfigInfo:
        return proto::kConfigBytes;
    case proto::kInitial:
        return 16;
    case proto::kStartIntr:
        return 28;
    case proto::kADResult:
        return 4;
    case proto::kStopIntr:
    case proto::kGetLastADError:
    case proto::kQueryBuf:
    case proto::kSimDroppedBlocks:
        return 0;
    default:
        known = false;
        return 0;
    }
}

const std::string& targetPath(MapTarget target) {
    static const std::string none;
    switch (target) {
    case MapTarget::Slots:
        return files().slots;
    case MapTarget::Empty:
        return files().empty;
    case MapTarget::Missing:
        return files().missing;
    case MapTarget::TooLong:
        return files().tooLong;
    default:
        return none;
    }
}

Script readRequests(FuzzInput& in) {
    Script s;
    while (true) {
        const std::size_t index = s.requests.size();
        // Takes up to `bytes` into the stream, as one read of the host's.
        const auto take = [&](std::size_t bytes, bool last) {
            s.reads.push_back({bytes, index, last});
            const std::string_view got = in.bytes(bytes);
            s.stream += got;
            return got;
        };
        if (in.remaining() == 0) {
            // The read that finds the stream's end.
            s.reads.push_back({4, index, false});
            return s;
        }
        Request r;
        const std::string_view head = take(4, false);
        if (head.size() < 4)
            return s; // a cut op reads as the end
        r.op = proto::getU32(head.data());
        bool known = false;
        const std::size_t n = argumentBytes(r.op, known);
        if (r.op == proto::kMapBlocks) {
            const std::string_view map = take(12, false);
            r.args = map;
            if (map.size() == 12) {
                r.slots = proto::getU32(map.data());
                r.elements = proto::getU32(map.data() + 4);
                r.kind = proto::getU32(map.data() + 8);
                if (r.kind == proto::kMapHandle) {
                    const std::string_view handle = take(8, true);
                    r.whole = handle.size() == 8;
                } else if (r.kind == proto::kMapPath) {
                    s.reads.push_back({4, index, false});
                    const std::string_view size = in.bytes(4);
                    const std::uint32_t length = size.size() == 4 ? proto::getU32(size.data()) : 0;
                    if (size.size() < 4 || length > proto::kMaxMapPath) {
                        // Cut short, or longer than any path: the host reads
                        // no path, and stops.
                        s.stream += size;
                        r.whole = size.size() == 4;
                        r.refused = true;
                    } else {
                        const std::string_view path = in.bytes(length);
                        if (path.size() < length) {
                            // Cut short: the host's read of it fails, and it
                            // opens nothing.
                            s.stream += size;
                            s.stream += path;
                            s.reads.push_back({length, index, true});
                        } else {
                            r.whole = true;
                            // The path's first byte picks: '/' and 'Z' (a
                            // path as the program spells it, natively or
                            // for Wine) the slots.
                            const unsigned pick =
                                path.empty() ? 8U : static_cast<unsigned char>(path[0]) % 8U;
                            r.target = pick == 0   ? MapTarget::Empty
                                       : pick == 1 ? MapTarget::Missing
                                       : pick == 3 ? MapTarget::TooLong
                                       : pick == 8 ? MapTarget::NoPath
                                                   : MapTarget::Slots;
                            const std::string& ours = targetPath(r.target);
                            proto::putU32(s.stream, static_cast<std::uint32_t>(ours.size()));
                            s.stream += ours;
                            s.reads.push_back({ours.size(), index, true});
                        }
                    }
                } else {
                    r.whole = true;
                    r.refused = true;
                    s.reads.back().last = true;
                }
            }
        } else if (!known) {
            r.whole = true;
            r.refused = true;
            s.reads.back().last = true;
        } else if (n == 0) {
            r.whole = true;
            s.reads.back().last = true;
        } else {
            const std::string_view args = take(n, true);
            r.args = args;
            r.whole = args.size() == n;
        }
        s.requests.push_back(r);
        if (!r.whole || r.refused)
            return s;
    }
}

// ---------------------------------------------------------------------------
// What the host must have answered.

class Model {
public:
    Model(const Script& script, bool noLibrary) : m_script(script), m_noLibrary(noLibrary) {}

    /// The host is about to read request `upTo`: everything before it must be
    /// answered in full.
    void answeredUpTo(std::size_t upTo) {
        while (m_checked < upTo) {
            if (!serves(m_script.requests[m_checked]))
                fail("the host read on past request " + std::to_string(m_checked) +
                     ", which it must refuse");
            check(m_script.requests[m_checked]);
            ++m_checked;
        }
    }

    /// serveCalls returned `status`.
    void ended(int status) {
        int expected = 0;
        for (; m_checked < m_script.requests.size(); ++m_checked) {
            const Request& r = m_script.requests[m_checked];
            if (!serves(r)) {
                expected = 1;
                break;
            }
            check(r);
        }
        if (m_at != m_replies.size())
            fail("the host wrote " + std::to_string(m_replies.size() - m_at) +
                 " bytes more than its replies: " + hex(std::string_view(m_replies).substr(m_at)));
        if (status != expected)
            fail("serveCalls returned " + std::to_string(status) + " where the requests make " +
                 std::to_string(expected));
    }

    void wrote(const char* data, std::size_t bytes) { m_replies.append(data, bytes); }

    /// The program's buffer goes into slot 0 before an ADResult request.
    void fillSlotZero(std::size_t request) {
        if (!m_mapped)
            return;
        std::int16_t* slot0 = files().view();
        for (std::uint32_t i = 0; i < m_elements; ++i)
            slot0[i] =
                static_cast<std::int16_t>(fakecard::mix(static_cast<std::uint32_t>(request) ^ i));
    }

    /// The bytes of the slots' file this input may have written.
    std::uint64_t dirtyBytes() const { return m_dirty; }

private:
    // Whether the host, as things stand, takes `r` and answers it.
    bool serves(const Request& r) const {
        if (!r.whole || r.refused)
            return false;
        if (r.op == proto::kMapBlocks)
            return r.elements == m_elements && r.slots == proto::blockSlots(r.elements);
        if (r.op == proto::kADResult) {
            const std::uint32_t calls = proto::getU32(r.args.data());
            return m_mapped && calls != 0 && calls < m_slots;
        }
        return true;
    }

    std::string_view take(std::size_t bytes, const char* what) {
        if (m_replies.size() - m_at < bytes)
            fail(std::string("the host's reply ends inside ") + what);
        const std::string_view got = std::string_view(m_replies).substr(m_at, bytes);
        m_at += bytes;
        return got;
    }

    void expectBytes(const std::string& wanted, const char* what) {
        const std::string_view got = take(wanted.size(), what);
        if (got != wanted)
            fail(std::string(what) + ": the host answered " + hex(got) + " where the card says " +
                 hex(wanted));
    }

    // A text reply: the status and a text of at most kMaxText bytes.
    std::string_view text(const char* what) {
        const std::uint32_t length = proto::getU32(take(4, what).data());
        if (length > proto::kMaxText)
            fail(std::string(what) + ": a text of " + std::to_string(length) + " bytes");
        return take(length, what);
    }

    void missingLibrary(const char* what) {
        const std::uint32_t status = proto::getU32(take(4, what).data());
        if (status != proto::kFailed)
            fail(std::string(what) + ": status " + std::to_string(status) +
                 " where the library cannot be loaded");
        // No function's name: the library itself is missing, and why.
        const std::string_view t = text(what);
        if (t.size() < 2 || t[0] != '\n')
            fail(std::string(what) + ": the missing library's text is " + hex(t));
    }

    static std::string okI32(std::int32_t value) {
        std::string out;
        proto::putU32(out, proto::kOk);
        proto::putI32(out, value);
        return out;
    }

    void check(const Request& r) {
        const char* a = r.args.data();
        if (m_noLibrary && r.op != proto::kMapBlocks) {
            missingLibrary("a call without its library");
            return;
        }
        switch (r.op) {
        case proto::kConfigInfo: {
            std::array<std::uint8_t, kCardNameBytes> name{};
            std::memcpy(name.data(), a, kCardNameBytes);
            const char* p = a + kCardNameBytes;
            std::int32_t v[4] = {proto::getI32(p), proto::getI32(p + 4), proto::getI32(p + 8),
                                 proto::getI32(p + 12)};
            float zero = proto::getF32(p + 16);
            float span = proto::getF32(p + 20);
            std::int32_t extra = proto::getI32(p + 24);
            std::string wanted = okI32(
                m_card.configInfo(name.data(), &v[0], &v[1], &v[2], &v[3], &zero, &span, &extra));
            wanted.append(reinterpret_cast<const char*>(name.data()), name.size());
            for (const std::int32_t x : v)
                proto::putI32(wanted, x);
            proto::putF32(wanted, zero);
            proto::putF32(wanted, span);
            proto::putI32(wanted, extra);
            expectBytes(wanted, "ConfigInfo");
            break;
        }
        case proto::kStopIntr:
            expectBytes(okI32(m_card.stopIntr()), "StopIntr");
            break;
        case proto::kInitial:
            expectBytes(okI32(m_card.initial(proto::getI32(a), proto::getI32(a + 4),
                                             proto::getI32(a + 8), proto::getI32(a + 12))),
                        "Initial");
            break;
        case proto::kStartIntr: {
            std::int32_t v[7];
            for (int k = 0; k < 7; ++k)
                v[k] = proto::getI32(a + 4 * k);
            const std::int32_t result = m_card.startIntr(
                static_cast<std::int16_t>(v[0]), v[1], static_cast<std::int16_t>(v[2]),
                static_cast<std::int16_t>(v[3]), v[4], v[5], static_cast<std::int16_t>(v[6]));
            expectBytes(okI32(result), "StartIntr");
            if (result != 0) {
                // Blocks of the new shape: slots of another size are dropped.
                const std::uint32_t elements =
                    std::max(proto::blockElements(v[1], static_cast<std::int16_t>(v[3])),
                             proto::kMinBufferElements);
                if (elements != m_elements) {
                    m_mapped = false;
                    m_slots = 0;
                }
                m_elements = elements;
            }
            break;
        }
        case proto::kGetLastADError:
            expectBytes(okI32(m_card.getLastADError()), "GetLastADError");
            break;
        case proto::kQueryBuf:
            expectBytes(okI32(m_card.queryBuf()), "QueryBuf");
            break;
        case proto::kSimDroppedBlocks: {
            std::string wanted;
            proto::putU32(wanted, proto::kOk);
            proto::putU64(wanted, static_cast<std::uint64_t>(m_card.simDroppedBlocks()));
            expectBytes(wanted, "SimDroppedBlocks");
            break;
        }
        case proto::kMapBlocks:
            mapReply(r);
            break;
        case proto::kADResult:
            blockReplies(proto::getU32(a));
            break;
        default:
            fail("a request the host must refuse was answered");
        }
    }

    void mapReply(const Request& r) {
        const std::uint32_t status = proto::getU32(take(4, "kMapBlocks").data());
        if (status != proto::kOk)
            fail("kMapBlocks: status " + std::to_string(status));
        const std::string_view why = text("kMapBlocks");
        // Only the slots' file, large enough, can be mapped; a handle never
        // on this system.
        const std::uint64_t bytes = proto::mappingBytes(r.slots, r.elements);
        const bool opens =
            r.kind == proto::kMapPath && r.target == MapTarget::Slots && bytes <= kSlotsFileBytes;
        if (why.empty() != opens)
            fail("kMapBlocks answered \"" + std::string(why) + "\" for the " +
                 (opens ? "slots' file" : "file it cannot map"));
        m_mapped = opens;
        m_slots = opens ? r.slots : 0;
        if (opens)
            m_dirty = std::max(m_dirty, bytes);
    }

    void blockReplies(std::uint32_t calls) {
        const std::int16_t* slots = files().view();
        const std::size_t elements = m_elements;
        m_scratch.resize(elements);
        for (std::uint32_t k = 1; k <= calls; ++k) {
            const std::string_view head = take(20, "an ADResult block reply");
            const std::uint32_t status = proto::getU32(head.data());
            const std::int32_t result = proto::getI32(head.data() + 4);
            const std::uint32_t slot = proto::getU32(head.data() + 8);
            const std::uint32_t first = proto::getU32(head.data() + 12);
            const std::uint32_t end = proto::getU32(head.data() + 16);
            const std::int16_t* was = slots + (k - 1) * elements;
            const std::int16_t* now = slots + k * elements;
            // The card's call, made directly on the buffer as the call before
            // left it.
            std::memcpy(m_scratch.data(), was, elements * 2);
            const std::int32_t wanted = m_card.adResult(m_scratch.data());
            if (status != proto::kOk || result != wanted || slot != k)
                fail("block reply " + std::to_string(k) + ": status " + std::to_string(status) +
                     ", result " + std::to_string(result) + " (card: " + std::to_string(wanted) +
                     "), slot " + std::to_string(slot));
            if (std::memcmp(m_scratch.data(), now, elements * 2) != 0) {
                std::size_t at = 0;
                while (m_scratch[at] == now[at])
                    ++at;
                fail("slot " + std::to_string(k) + " element " + std::to_string(at) + " is " +
                     std::to_string(now[at]) + " where the card's call makes it " +
                     std::to_string(m_scratch[at]));
            }
            std::size_t from = 0;
            while (from < elements && was[from] == now[from])
                ++from;
            std::size_t to = elements;
            while (to > from && was[to - 1] == now[to - 1])
                --to;
            const bool same = from == elements;
            if (first > end || end > elements || (same ? first != end : first != from || end != to))
                fail("block reply " + std::to_string(k) + " says the call changed " +
                     std::to_string(first) + " to " + std::to_string(end) + " of " +
                     std::to_string(elements) + " where it changed " +
                     (same ? std::string("nothing")
                           : std::to_string(from) + " to " + std::to_string(to)));
        }
    }

    const Script& m_script;
    bool m_noLibrary;
    fakecard::Card m_card;
    std::string m_replies;
    std::size_t m_at = 0;
    std::size_t m_checked = 0;
    std::uint32_t m_elements = proto::kMinBufferElements;
    bool m_mapped = false;
    std::uint32_t m_slots = 0;
    std::uint64_t m_dirty = 0;
    std::vector<std::int16_t> m_scratch;
};

/// The host's streams: the rewritten requests in, the replies into the model.
class MemoryChannel final : public HostChannel {
public:
    MemoryChannel(const Script& script, Model& model) : m_script(script), m_model(model) {}

    bool read(char* data, std::size_t bytes) override {
        if (m_next >= m_script.reads.size())
            fail("the host reads past the requests the input holds");
        const Read& r = m_script.reads[m_next++];
        if (bytes != r.bytes)
            fail("the host reads " + std::to_string(bytes) + " bytes where request " +
                 std::to_string(r.request) + " has " + std::to_string(r.bytes) +
                 ": it takes the requests apart differently from this target, so a path "
                 "could reach it unrewritten");
        m_model.answeredUpTo(r.request);
        if (m_script.stream.size() - m_at < bytes) {
            m_at = m_script.stream.size();
            return false;
        }
        std::memcpy(data, m_script.stream.data() + m_at, bytes);
        m_at += bytes;
        if (r.last && r.request < m_script.requests.size() &&
            m_script.requests[r.request].op == proto::kADResult)
            m_model.fillSlotZero(r.request);
        return true;
    }

    bool write(const char* data, std::size_t bytes) override {
        m_model.wrote(data, bytes);
        return true;
    }

private:
    const Script& m_script;
    Model& m_model;
    std::size_t m_next = 0;
    std::size_t m_at = 0;
};

using ResetFn = void (*)();

} // namespace

// AddressSanitizer's fake stack for use-after-return checks is swept whole
// after every throw, and without its library the host throws at every call
// (a LibraryFault, answered as kFailed): the smallest fake stack still holds
// many times the frames the host nests, and its sweep costs little.
extern "C" const char* __asan_default_options() {
    return "max_uar_stack_size_log=16";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One load of the library for the whole run, as one host has one.
    static CardLibrary card(FAKE_CARD_LIBRARY);
    static CardLibrary missing(files().noLibrary);
    static const auto reset = reinterpret_cast<ResetFn>(card.function("FuzzCardReset"));
    static std::uint64_t dirty = 0;

    // Every input finds a card just loaded and slots of zeros.
    reset();
    std::memset(files().view(), 0, dirty);

    FuzzInput in(data, size);
    const bool noLibrary = (in.take<std::uint8_t>() & 1) != 0;
    const Script script = readRequests(in);
    Model model(script, noLibrary);
    MemoryChannel channel(script, model);
    const int status = serveCalls(channel, noLibrary ? missing : card);
    model.ended(status);
    dirty = model.dirtyBytes();
    return 0;
}
