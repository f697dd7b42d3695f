#pragma once
// Fakes of the adapter platform layer. Each records what it was asked in one
// shared call log, so tests can check the order of steps across facilities.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ostrel::testing {

using CallLog = std::vector<std::string>;

class FakeRegistry : public RegistryView {
public:
    // Adds a key (and every missing parent) under its exact path.
    void addKey(const std::string& path);
    void setValue(const std::string& path, const std::string& name, const std::string& bytes);
    void failOpen(const std::string& path) { failing_.insert(fold(path)); }
    // A TAP-like adapter entry: class subkey with the component id and GUID, plus its connection name.
    void addAdapter(const std::string& subkey, const std::string& componentId, const std::string& guid,
                    std::optional<std::string> friendlyName);

    std::optional<Key> openKey(std::string_view path) override;
    void closeKey(Key key) override;
    std::optional<std::string> subkeyName(Key key, std::uint32_t index) override;
    std::optional<std::string> queryValue(Key key, std::string_view name) override;

    int openKeys() const { return static_cast<int>(open_.size()); }

private:
    static std::string fold(std::string_view text);
    struct Node {
        std::vector<std::string> children;  // in insertion order
        std::map<std::string, std::string> values;  // folded name -> bytes
    };
    std::map<std::string, Node> nodes_;  // folded path
    std::set<std::string> failing_;
    std::map<std::uint64_t, std::string> open_;
    std::uint64_t next_ = 1;
};

class FakeTapFile;

class FakeTapFiles : public TapFiles {
public:
    explicit FakeTapFiles(CallLog& log) : log_(log) {}
    std::expected<std::unique_ptr<TapFile>, OpenFailure> open(std::string_view path) override;
    std::expected<SessionAdapter, MakeFailure> makeSessionAdapter() override;

    // What making a session adapter gives: nothing to make (as on a machine with an installer), or refused.
    std::optional<MakeFailure> makeFailure = MakeFailure::Unsupported;
    int sessionAdaptersMade = 0;
    std::set<std::string> failing;        // paths whose open fails
    std::set<std::string> eventsFailing;  // paths whose events cannot be made
    std::vector<std::string> opened;
    FakeTapFile* last = nullptr;  // the most recently opened file, while it lives

private:
    CallLog& log_;
};

class FakeTapFile : public TapFile {
public:
    FakeTapFile(CallLog& log, FakeTapFiles& owner) : log_(log), owner_(owner) {}
    ~FakeTapFile() override;

    // Frames the adapter hands out; `immediate` ones complete the read at once.
    struct Incoming {
        std::vector<std::uint8_t> frame;
        bool immediate = true;
    };
    std::deque<Incoming> incoming;
    std::vector<std::vector<std::uint8_t>> written;
    std::optional<std::uint32_t> readError;
    std::optional<std::uint32_t> writeError;
    int startedReads = 0;
    // Writes are held back until flushWrites, as joining writes hold them.
    bool holdWrites = false;
    std::vector<std::vector<std::uint8_t>> held;

    std::expected<std::optional<std::size_t>, std::uint32_t> startRead(std::span<std::uint8_t> buf) override;
    bool readSignalled() override;
    std::expected<std::size_t, std::uint32_t> collectRead() override;
    void cancelRead() override;
    std::expected<void, std::uint32_t> write(std::span<const std::uint8_t> frame) override;
    std::expected<void, std::uint32_t> flushWrites() override;
    void setMediaStatus(bool connected) override;
    Waitable readEvent() const override { return 77; }

private:
    std::size_t deliver();
    CallLog& log_;
    FakeTapFiles& owner_;
    std::span<std::uint8_t> buffer_;
    bool pending_ = false;
};

// Keeps the host's addresses and routes as sets, so tests can check that
// teardown left exactly what was there before.
class FakeIpHelper : public IpHelper {
public:
    explicit FakeIpHelper(CallLog& log) : log_(log) {}

    std::map<Guid, std::uint64_t, bool (*)(const Guid&, const Guid&)> luids{
        [](const Guid& a, const Guid& b) { return a.toString() < b.toString(); }};
    std::map<std::uint64_t, std::uint32_t> indexes;
    std::optional<std::uint32_t> luidError;

    // Results by the route's "a.b.c.d/p" text; absent means success.
    std::map<std::string, std::uint32_t> routeResults;
    std::optional<std::uint32_t> addIpAddressResult;
    std::map<AddressFamily, std::uint32_t> unicastResults;
    std::set<AddressFamily> tableFails;
    // The adapter's link as getLink reports it: enabled, with Ethernet's MTU, unless a test says otherwise.
    std::expected<LinkRow, std::uint32_t> link = LinkRow{1500, true};

    std::vector<UnicastRow> addresses;  // what the host has now
    std::vector<RouteRow> routes;
    std::map<std::uint32_t, UnicastRow> contexts;

    std::expected<std::uint64_t, std::uint32_t> guidToLuid(const Guid& guid) override;
    std::expected<std::uint32_t, std::uint32_t> luidToIndex(std::uint64_t luid) override;
    std::uint32_t createRoute(const RouteRow& row) override;
    std::uint32_t deleteRoute(const RouteRow& row) override;
    std::expected<std::vector<UnicastRow>, std::uint32_t> unicastTable(AddressFamily family) override;
    std::uint32_t createUnicast(const UnicastRow& row) override;
    std::uint32_t deleteUnicast(const UnicastRow& row) override;
    std::expected<InterfaceRow, std::uint32_t> getInterface(AddressFamily family, std::uint32_t index) override;
    std::uint32_t setInterface(const InterfaceRow& row) override;
    std::expected<LinkRow, std::uint32_t> getLink(std::uint32_t index) override;
    std::expected<std::uint32_t, std::uint32_t> addIpAddress(Ipv4Address address, Ipv4Address mask,
                                                             std::uint32_t index) override;
    std::uint32_t deleteIpAddress(std::uint32_t context) override;

    static std::string text(const RouteRow& row);
    static std::string text(const UnicastRow& row);

private:
    CallLog& log_;
    std::uint32_t nextContext_ = 100;
};

class RecordingCommandRunner : public CommandRunner {
public:
    explicit RecordingCommandRunner(CallLog& log) : log_(log) {}

    struct Rule {
        std::string wordsContain;  // matched against the joined words
        std::expected<std::uint32_t, std::string> outcome;
    };
    std::vector<Rule> rules;
    std::vector<std::vector<std::string>> runs;

    std::expected<std::uint32_t, std::string> run(std::string_view program,
                                                  std::span<const std::string> words) override;

private:
    CallLog& log_;
};

class FakeEventWait : public EventWait {
public:
    explicit FakeEventWait(CallLog& log) : log_(log) {}

    bool createFails = false;
    std::optional<std::uint32_t> selectError;
    std::deque<std::expected<Woken, std::uint32_t>> results;  // default: Timeout
    std::vector<int> selectedSockets;
    std::vector<std::uint32_t> timeouts;
    std::vector<Waitable> waitedDevices;
    int resets = 0;
    int created = 0;
    int closed = 0;

    std::optional<SocketEvent> createSocketEvent() override;
    std::expected<void, std::uint32_t> selectSocket(SocketEvent event, int socket) override;
    std::expected<Woken, std::uint32_t> waitAny(Waitable device, SocketEvent socket, std::uint32_t timeoutMs) override;
    void resetSocketEvent(SocketEvent event) override;
    void closeSocketEvent(SocketEvent event) override;

private:
    CallLog& log_;
};

// A library loader whose "libraries" are maps of function names to pointers.
class FakeLibraryLoader : public LibraryLoader {
public:
    explicit FakeLibraryLoader(CallLog& log) : log_(log) {}

    std::map<std::string, std::map<std::string, void*>> libraries;
    std::vector<std::string> loaded;
    int live = 0;

    std::expected<Handle, Failure> load(const std::string& path) override;
    void* symbol(Handle library, const char* name) override;
    void unload(Handle library) override;

private:
    CallLog& log_;
    std::vector<std::unique_ptr<std::string>> handles_;
};

struct FakePlatform {
    CallLog log;
    FakeRegistry registry;
    FakeTapFiles tapFiles{log};
    FakeIpHelper ipHelper{log};
    RecordingCommandRunner commands{log};
    FakeEventWait events{log};
    FakeLibraryLoader libraries{log};
    Platform platform{registry, tapFiles, ipHelper, commands, events, libraries,
                      [](void* handle) -> Waitable { return reinterpret_cast<Waitable>(handle); }};

    // Log entries that start with prefix, in order.
    std::vector<std::string> calls(std::string_view prefix) const;
};

}  // namespace ostrel::testing
