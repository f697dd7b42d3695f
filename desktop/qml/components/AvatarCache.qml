pragma Singleton
import QtQuick

// Avatar picture addresses by user name, fetched once through `api.fetchAvatar`.
// The maps are changed in place, so a name costs the same however many are
// known; whoever shows a name listens to `avatarChanged` for it.
QtObject {
    id: store
    property var cache: ({})      // name -> { url, fetchedAt }
    property var pending: ({})    // names with a fetch in flight
    property var failed: ({})     // name -> time before which no new fetch is made
    property int failureCooldownMs: 60000

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
        failed[name] = Date.now() + failureCooldownMs
        delete pending[name]
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
