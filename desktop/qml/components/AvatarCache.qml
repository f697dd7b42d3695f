pragma Singleton
import QtQuick

// Avatar picture addresses by user name, fetched once through `api.fetchAvatar`.
// The maps are changed in place, so a name costs the same however many are
// known; whoever shows a name listens to `avatarChanged` for it. A name whose
// fetch failed is asked for again once its cool-down ends, by whoever shows it.
QtObject {
    id: store
    property var cache: ({})      // name -> { url, fetchedAt }
    property var pending: ({})    // names with a fetch in flight
    property var failed: ({})     // name -> time before which no new fetch is made
    property int failureCooldownMs: 60000

    // Failures in the order they came, { name, until }: one cool-down for all, so
    // also the order they end in. One timer, set for the first, serves them all.
    property var _cooling: []
    property int _coolingHead: 0
    property Timer _coolDown: Timer { onTriggered: store._endCoolDowns() }

    signal avatarChanged(string name)

    function _fetch(name) {
        pending[name] = true
        api.fetchAvatar(name)
    }

    function urlFor(name) {
        if (!name)
            return ""
        const entry = cache[name]
        if (entry)
            return entry.url
        if (pending[name] || (failed[name] !== undefined && failed[name] > Date.now()))
            return ""
        _fetch(name)
        return ""
    }

    function refresh(name) {
        if (!name || pending[name])
            return
        delete failed[name]
        _fetch(name)
    }

    function markFailed(name) {
        if (!name)
            return
        const until = Date.now() + failureCooldownMs
        failed[name] = until
        delete pending[name]
        _cooling.push({ name: name, until: until })
        if (!_coolDown.running)
            _armCoolDown()
    }

    function _armCoolDown() {
        if (_coolingHead >= _cooling.length)
            return
        _coolDown.interval = Math.max(1, _cooling[_coolingHead].until - Date.now())
        _coolDown.start()
    }

    // Whoever shows a name whose cool-down ended hears of it and asks again.
    function _endCoolDowns() {
        const now = Date.now()
        const ended = []
        while (_coolingHead < _cooling.length) {
            const entry = _cooling[_coolingHead]
            // Fetched again since, or failed again: that later entry stands.
            if (failed[entry.name] !== entry.until) {
                ++_coolingHead
                continue
            }
            if (entry.until > now)
                break
            ++_coolingHead
            delete failed[entry.name]
            ended.push(entry.name)
        }
        // What has been dealt with goes, a share at a time, so the list stays short.
        if (_coolingHead * 2 > _cooling.length) {
            _cooling = _cooling.slice(_coolingHead)
            _coolingHead = 0
        }
        _armCoolDown()
        for (let i = 0; i < ended.length; ++i)
            avatarChanged(ended[i])
    }

    function clear() {
        cache = {}
        pending = {}
        failed = {}
        _coolDown.stop()
        _cooling = []
        _coolingHead = 0
    }

    property Connections _replies: Connections {
        target: api
        function onAvatarReceived(name, absoluteUrl, rotatedAt) {
            if (!name)
                return
            store.cache[name] = { url: absoluteUrl, fetchedAt: Date.now() }
            delete store.pending[name]
            delete store.failed[name]
            store.avatarChanged(name)
        }
        function onAvatarFetchFailed(name) {
            if (name)
                store.markFailed(name)
        }
        // Asked for by a sign-in that ended: nothing is on its way any more, and
        // whoever still shows the name asks again under the new one.
        function onAvatarFetchCancelled(name) {
            if (!name || !store.pending[name])
                return
            delete store.pending[name]
            store.avatarChanged(name)
        }
    }
}
