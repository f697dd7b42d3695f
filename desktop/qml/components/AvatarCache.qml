pragma Singleton
import QtQuick

// Avatar picture addresses by user name, fetched once through `api.fetchAvatar`.
// The maps are replaced on every change so bindings that read them re-run.
QtObject {
    id: store
    property var cache: ({})      // name -> { url, fetchedAt }
    property var pending: ({})    // names with a fetch in flight
    property var failed: ({})     // name -> time before which no new fetch is made
    property int failureCooldownMs: 60000

    signal avatarChanged(string name)

    function _with(map, key, value) {
        const copy = Object.assign({}, map)
        if (value === undefined)
            delete copy[key]
        else
            copy[key] = value
        return copy
    }

    function _fetch(name) {
        pending = _with(pending, name, true)
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
        failed = _with(failed, name, undefined)
        _fetch(name)
    }

    function prefetchAll(names) {
        for (let i = 0; i < names.length; ++i)
            urlFor(names[i])
    }

    function markFailed(name) {
        if (!name)
            return
        failed = _with(failed, name, Date.now() + failureCooldownMs)
        pending = _with(pending, name, undefined)
    }

    function clear() {
        cache = {}
        pending = {}
        failed = {}
    }

    property Connections _replies: Connections {
        target: api
        function onAvatarReceived(name, absoluteUrl, rotatedAt) {
            if (!name)
                return
            store.cache = store._with(store.cache, name, { url: absoluteUrl, fetchedAt: Date.now() })
            store.pending = store._with(store.pending, name, undefined)
            store.failed = store._with(store.failed, name, undefined)
            store.avatarChanged(name)
        }
        function onAvatarFetchFailed(name) {
            if (name)
                store.markFailed(name)
        }
    }
}
