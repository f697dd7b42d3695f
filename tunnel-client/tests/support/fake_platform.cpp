#include "support/fake_platform.h"

#include <algorithm>
#include <cstdio>

#include "device/host_config.h"
#include "core/text.h"
#include "platform/os_errors.h"

namespace ostrel::testing {

// ---- registry

std::string FakeRegistry::fold(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void FakeRegistry::addKey(const std::string& path) {
    if (nodes_.count(fold(path))) return;
    nodes_[fold(path)];
    auto slash = path.rfind('\\');
    if (slash == std::string::npos) return;
    std::string parent = path.substr(0, slash);
    addKey(parent);
    nodes_[fold(parent)].children.push_back(path.substr(slash + 1));
}

void FakeRegistry::setValue(const std::string& path, const std::string& name, const std::string& bytes) {
    addKey(path);
    nodes_[fold(path)].values[fold(name)] = bytes;
}

void FakeRegistry::addAdapter(const std::string& subkey, const std::string& componentId, const std::string& guid,
                              std::optional<std::string> friendlyName) {
    std::string key = std::string(kAdapterClassKey) + "\\" + subkey;
    setValue(key, "ComponentId", componentId + '\0');
    setValue(key, "NetCfgInstanceId", guid + '\0');
    if (friendlyName) setValue(std::string(kConnectionsKey) + "\\" + guid + "\\Connection", "Name", *friendlyName + '\0');
}

std::optional<RegistryView::Key> FakeRegistry::openKey(std::string_view path) {
    std::string f = fold(path);
    if (failing_.count(f) || !nodes_.count(f)) return std::nullopt;
    std::uint64_t id = next_++;
    open_[id] = f;
    return Key{id};
}

void FakeRegistry::closeKey(Key key) { open_.erase(key.id); }

std::optional<std::string> FakeRegistry::subkeyName(Key key, std::uint32_t index) {
    auto it = open_.find(key.id);
    if (it == open_.end()) return std::nullopt;
    const auto& children = nodes_[it->second].children;
    if (index >= children.size()) return std::nullopt;
    return children[index];
}

std::optional<std::string> FakeRegistry::queryValue(Key key, std::string_view name) {
    auto it = open_.find(key.id);
    if (it == open_.end()) return std::nullopt;
    const auto& values = nodes_[it->second].values;
    auto v = values.find(fold(name));
    if (v == values.end()) return std::nullopt;
    return v->second;
}

// ---- TAP files

std::expected<std::unique_ptr<TapFile>, TapFiles::OpenFailure> FakeTapFiles::open(std::string_view path) {
    std::string p(path);
    log_.push_back("tap-open " + p);
    if (failing.count(p)) return std::unexpected(OpenFailure::File);
    if (eventsFailing.count(p)) return std::unexpected(OpenFailure::Events);
    opened.push_back(p);
    auto file = std::make_unique<FakeTapFile>(log_, *this);
    last = file.get();
    return file;
}

std::expected<TapFiles::SessionAdapter, TapFiles::MakeFailure> FakeTapFiles::makeSessionAdapter() {
    log_.push_back("tap-make");
    if (makeFailure) return std::unexpected(*makeFailure);
    auto file = std::make_unique<FakeTapFile>(log_, *this);
    last = file.get();
    const int n = sessionAdaptersMade++;
    return SessionAdapter{std::move(file), "ostrel" + std::to_string(n), static_cast<std::uint32_t>(40 + n)};
}

FakeTapFile::~FakeTapFile() {
    log_.push_back("tap-close");
    if (owner_.last == this) owner_.last = nullptr;
}

std::size_t FakeTapFile::deliver() {
    auto frame = std::move(incoming.front().frame);
    incoming.pop_front();
    std::size_t n = std::min(frame.size(), buffer_.size());
    std::copy_n(frame.begin(), n, buffer_.begin());
    return n;
}

std::expected<std::optional<std::size_t>, std::uint32_t> FakeTapFile::startRead(std::span<std::uint8_t> buf) {
    ++startedReads;
    if (readError) return std::unexpected(*readError);
    buffer_ = buf;
    if (!incoming.empty() && incoming.front().immediate) return deliver();
    pending_ = true;
    return std::optional<std::size_t>{};
}

bool FakeTapFile::readSignalled() { return pending_ && !incoming.empty(); }

std::expected<std::size_t, std::uint32_t> FakeTapFile::collectRead() {
    pending_ = false;
    return deliver();
}

void FakeTapFile::cancelRead() {
    log_.push_back("tap-cancel");
    pending_ = false;
}

std::expected<void, std::uint32_t> FakeTapFile::write(std::span<const std::uint8_t> frame) {
    if (writeError) return std::unexpected(*writeError);
    (holdWrites ? held : written).emplace_back(frame.begin(), frame.end());
    return {};
}

std::expected<void, std::uint32_t> FakeTapFile::flushWrites() {
    if (held.empty()) return {};
    log_.push_back("tap-write-held");
    written.insert(written.end(), held.begin(), held.end());
    held.clear();
    return {};
}

void FakeTapFile::setMediaStatus(bool connected) { log_.push_back(connected ? "media on" : "media off"); }

// ---- IP helper

std::string FakeIpHelper::text(const RouteRow& row) {
    return ipv4Text(row.destination) + "/" + std::to_string(row.prefixLength);
}

std::string FakeIpHelper::text(const UnicastRow& row) {
    std::string address;
    if (row.family == AddressFamily::V4) {
        address = ipv4Text({row.address[0], row.address[1], row.address[2], row.address[3]});
    } else {
        address = ipv6CompressedText(row.address);
    }
    return address + "/" + std::to_string(row.onLinkPrefixLength) + "@" + std::to_string(row.interfaceIndex);
}

std::expected<std::uint64_t, std::uint32_t> FakeIpHelper::guidToLuid(const Guid& guid) {
    if (luidError) return std::unexpected(*luidError);
    auto it = luids.find(guid);
    if (it == luids.end()) return std::unexpected(1168u);
    return it->second;
}

std::expected<std::uint32_t, std::uint32_t> FakeIpHelper::luidToIndex(std::uint64_t luid) {
    auto it = indexes.find(luid);
    if (it == indexes.end()) return std::unexpected(1168u);
    return it->second;
}

std::uint32_t FakeIpHelper::createRoute(const RouteRow& row) {
    log_.push_back("route+ " + text(row));
    auto r = routeResults.find(text(row));
    if (r != routeResults.end() && r->second != 0) return r->second;
    if (std::find(routes.begin(), routes.end(), row) != routes.end()) return kErrorObjectAlreadyExists;
    routes.push_back(row);
    return 0;
}

std::uint32_t FakeIpHelper::deleteRoute(const RouteRow& row) {
    log_.push_back("route- " + text(row));
    auto it = std::find(routes.begin(), routes.end(), row);
    if (it == routes.end()) return 1168;
    routes.erase(it);
    return 0;
}

std::expected<std::vector<UnicastRow>, std::uint32_t> FakeIpHelper::unicastTable(AddressFamily family) {
    log_.push_back(family == AddressFamily::V4 ? "table v4" : "table v6");
    if (tableFails.count(family)) return std::unexpected(8u);
    std::vector<UnicastRow> rows;
    for (const auto& a : addresses)
        if (a.family == family) rows.push_back(a);
    return rows;
}

std::uint32_t FakeIpHelper::createUnicast(const UnicastRow& row) {
    log_.push_back("addr+ " + text(row));
    auto r = unicastResults.find(row.family);
    if (r != unicastResults.end() && r->second != 0) return r->second;
    addresses.push_back(row);
    return 0;
}

std::uint32_t FakeIpHelper::deleteUnicast(const UnicastRow& row) {
    auto it = std::find_if(addresses.begin(), addresses.end(), [&](const UnicastRow& a) {
        // IPv4 rows are deleted by address and index, IPv6 ones also by prefix.
        return a.family == row.family && a.address == row.address && a.interfaceIndex == row.interfaceIndex &&
               (row.family == AddressFamily::V4 || a.onLinkPrefixLength == row.onLinkPrefixLength);
    });
    log_.push_back("addr- " + text(it != addresses.end() ? *it : row));
    if (it == addresses.end()) return 1168;
    addresses.erase(it);
    return 0;
}

std::expected<InterfaceRow, std::uint32_t> FakeIpHelper::getInterface(AddressFamily family, std::uint32_t index) {
    log_.push_back(family == AddressFamily::V4 ? "metric-get v4" : "metric-get v6");
    InterfaceRow row;
    row.family = family;
    row.interfaceIndex = index;
    row.metric = 25;
    return row;
}

std::uint32_t FakeIpHelper::setInterface(const InterfaceRow& row) {
    log_.push_back(std::string(row.family == AddressFamily::V4 ? "metric-set v4 " : "metric-set v6 ") +
                   (row.useAutomaticMetric ? "auto" : std::to_string(row.metric)));
    return 0;
}

std::expected<LinkRow, std::uint32_t> FakeIpHelper::getLink(std::uint32_t index) {
    log_.push_back("link-get " + std::to_string(index));
    return link;
}

std::expected<std::uint32_t, std::uint32_t> FakeIpHelper::addIpAddress(Ipv4Address address, Ipv4Address mask,
                                                                       std::uint32_t index) {
    log_.push_back("ipaddr+ " + ipv4Text(address) + " mask " + ipv4Text(mask));
    if (addIpAddressResult) return std::unexpected(*addIpAddressResult);
    UnicastRow row;
    row.family = AddressFamily::V4;
    std::copy(address.begin(), address.end(), row.address.begin());
    row.interfaceIndex = index;
    row.onLinkPrefixLength = static_cast<std::uint8_t>(prefixFromNetmask(mask));
    addresses.push_back(row);
    contexts[nextContext_] = row;
    return nextContext_++;
}

std::uint32_t FakeIpHelper::deleteIpAddress(std::uint32_t context) {
    log_.push_back("ipaddr- " + std::to_string(context));
    auto it = contexts.find(context);
    if (it == contexts.end()) return 87;
    std::erase(addresses, it->second);
    contexts.erase(it);
    return 0;
}

// ---- command runner

std::expected<std::uint32_t, std::string> RecordingCommandRunner::run(std::string_view program,
                                                                      std::span<const std::string> words) {
    std::vector<std::string> argv(words.begin(), words.end());
    std::string joined(program);
    for (const auto& w : argv) joined += " " + w;
    log_.push_back(joined);
    runs.push_back(argv);
    for (const auto& rule : rules)
        if (joined.find(rule.wordsContain) != std::string::npos) return rule.outcome;
    return 0u;
}

// ---- event wait

std::optional<EventWait::SocketEvent> FakeEventWait::createSocketEvent() {
    if (createFails) return std::nullopt;
    ++created;
    return SocketEvent{static_cast<std::uint32_t>(created)};
}

std::expected<void, std::uint32_t> FakeEventWait::selectSocket(SocketEvent, int socket) {
    if (selectError) return std::unexpected(*selectError);
    selectedSockets.push_back(socket);
    return {};
}

std::expected<EventWait::Woken, std::uint32_t> FakeEventWait::waitAny(Waitable device, SocketEvent,
                                                                      std::uint32_t timeoutMs) {
    waitedDevices.push_back(device);
    timeouts.push_back(timeoutMs);
    if (results.empty()) return Woken::Timeout;
    auto r = results.front();
    results.pop_front();
    return r;
}

void FakeEventWait::resetSocketEvent(SocketEvent) { ++resets; }

void FakeEventWait::closeSocketEvent(SocketEvent) {
    ++closed;
    log_.push_back("socket-event-close");
}

// ---- libraries

std::expected<LibraryLoader::Handle, LibraryLoader::Failure> FakeLibraryLoader::load(const std::string& path) {
    log_.push_back("load " + path);
    loaded.push_back(path);
    if (!libraries.count(path)) return std::unexpected(Failure{126u, {}});
    handles_.push_back(std::make_unique<std::string>(path));
    ++live;
    return handles_.back().get();
}

void* FakeLibraryLoader::symbol(Handle library, const char* name) {
    auto& functions = libraries[*static_cast<std::string*>(library)];
    auto it = functions.find(name);
    return it == functions.end() ? nullptr : it->second;
}

void FakeLibraryLoader::unload(Handle library) {
    log_.push_back("unload " + *static_cast<std::string*>(library));
    --live;
}

std::vector<std::string> FakePlatform::calls(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const auto& c : log)
        if (c.starts_with(prefix)) out.push_back(c);
    return out;
}

}  // namespace ostrel::testing
