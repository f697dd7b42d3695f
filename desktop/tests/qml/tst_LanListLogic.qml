import QtQuick
import QtTest
import "qrc:/qml/pages/lan"
import "qrc:/qml/theme"

// The public room list's logic on its own: requests, paging, refresh, errors,
// against a plain list of rows as tall as the page's.
Item {
    id: root
    width: 1224
    height: 720

    Component { id: apiMaker; StandInApi {} }
    Component {
        id: logicMaker
        LanListLogic {
            active: true
            listView: rowsView
        }
    }
    // The page's list stands 168 px below the page's top.
    ListView {
        id: rowsView
        anchors.fill: parent
        anchors.topMargin: 168
        clip: true
        model: t.logic ? t.logic.publicVlansList : []
        delegate: Item { width: ListView.view.width; height: 50 }
    }

    CorvanaTestCase {
        id: t
        name: "LanListLogic"

        property var logic: null
        // The stand-in of the running test; the logic sees it as `api`.
        property var api: null

        function init() {
            root.height = 720
            api = apiMaker.createObject(root, { loggedIn: true })
            testHost.use("api", api)
            logic = createTemporaryObject(logicMaker, root)
            verify(logic)
            // As the page does when it appears.
            logic.fetchVlans()
        }

        function fetches() { return api.callsTo("fetchPublicVlans") }
        function rooms(from, count, total) {
            const list = []
            for (let i = from; i < Math.min(from + count, total); ++i)
                list.push({ id: "v" + (i + 1), name: "Owner" + i + " (Game " + i + ")", players: i % 4, capacity: 8 })
            return list
        }
        // Answers the newest list request from a room list of `total`.
        function answer(total) {
            const call = fetches()[fetches().length - 1]
            const pageNo = call.args[0]
            api.vlansReceived(rooms(pageNo * 10, 10, total), total, pageNo, Math.ceil(total / 10))
            return pageNo
        }

        function test_ownerAndGame_data() {
            return [
                { tag: "normal", name: "Sam (Dota 2)", owner: "Sam", game: "Dota 2" },
                { tag: "parentheses inside", name: "Al (x) (Age of Empires II)", owner: "Al (x)", game: "Age of Empires II" },
                { tag: "begins with the parenthesis", name: "(Dota 2)", owner: "(Dota 2)", game: "" },
                { tag: "begins with blank and parenthesis", name: " (Dota 2)", owner: " (Dota 2)", game: "" },
                { tag: "no parentheses", name: "Friday night", owner: "Friday night", game: "" },
                { tag: "not closed", name: "Sam (Dota 2", owner: "Sam (Dota 2", game: "" },
                { tag: "empty", name: "", owner: "", game: "" }
            ]
        }
        function test_ownerAndGame(data) {
            const parts = logic.splitVlanName(data.name)
            compare(parts.username, data.owner)
            compare(parts.gameName, data.game)
        }

        function test_pagingOf25Rooms() {
            root.height = 420
            tryVerify(() => fetches().length === 1)
            compare(fetches()[0].args, [0, 10, ""])
            verify(logic.vlansLoading)
            compare(answer(25), 0)
            compare(logic.publicVlansList.length, 10)
            compare(logic.publicVlansTotal, 25)
            verify(logic.hasMoreVlans)

            const list = logic.listView
            list.positionViewAtEnd()
            tryVerify(() => fetches().length === 2)
            compare(fetches()[1].args, [1, 10, ""])
            compare(answer(25), 1)
            compare(logic.publicVlansList.length, 20)
            verify(logic.hasMoreVlans)
            list.positionViewAtEnd()
            tryVerify(() => fetches().length === 3)
            compare(fetches()[2].args, [2, 10, ""])
            compare(answer(25), 2)
            compare(logic.publicVlansList.length, 25)
            verify(!logic.hasMoreVlans)
            compare(logic.publicVlansList[24].username, "Owner24")
            list.positionViewAtBeginning()
            list.positionViewAtEnd()
            wait(100)
            compare(fetches().length, 3)
        }

        function test_viewportFills() {
            tryVerify(() => fetches().length === 1)
            answer(25)
            // 10 rows do not fill the tall list: the next page follows on its own.
            tryVerify(() => fetches().length === 2)
            compare(fetches()[1].args[0], 1)
        }

        function test_countdownSparesAScrolledList() {
            root.height = 420
            logic.countdownTickMs = 20
            tryVerify(() => fetches().length === 1)
            answer(25)
            const list = logic.listView
            list.positionViewAtEnd()
            tryVerify(() => fetches().length === 2)
            answer(25)
            list.contentY = list.originY + 600
            logic.refreshCountdown = 2
            // Above 2 again only once the countdown has run out and restarted.
            tryVerify(() => logic.refreshCountdown > 2)
            compare(fetches().length, 2)
            compare(logic.publicVlansList.length, 20)

            list.contentY = list.originY + 120
            logic.refreshCountdown = 2
            tryVerify(() => fetches().length === 3)
            compare(fetches()[2].args, [0, 10, ""])
            verify(logic.preserveScrollOnNextLoad)
            answer(25)
            compare(logic.publicVlansList.length, 10)
            compare(list.contentY - list.originY, 120)
            verify(!logic.preserveScrollOnNextLoad)

            // A user's refresh goes back to the top.
            list.contentY = list.originY + 100
            logic.refresh()
            compare(fetches().length, 4)
            answer(25)
            compare(list.contentY - list.originY, 0)
        }

        function test_staleRepliesAreDropped() {
            tryVerify(() => fetches().length === 1)
            answer(25)
            // A search starts while another is still out: only the newest is taken.
            logic.searchQuery = "a"
            logic.fetchVlans()
            logic.searchQuery = "ab"
            logic.fetchVlans()
            compare(fetches().length, 2)
            api.vlansReceived(rooms(100, 3, 103), 103, 0, 11)
            compare(fetches().length, 3)
            compare(fetches()[2].args, [0, 10, "ab"])
            compare(logic.publicVlansTotal, 25)
            verify(logic.vlansLoading)
            api.vlansReceived(rooms(0, 2, 2), 2, 0, 1)
            compare(logic.publicVlansTotal, 2)
            compare(logic.publicVlansList.length, 2)
            verify(!logic.vlansLoading)
            // Typing a new search does not change what the next page of the shown list asks for.
            logic.fetchVlans()
            answer(25)
            logic.searchQuery = "abc"
            logic.loadMoreVlans()
            compare(fetches()[fetches().length - 1].args, [1, 10, "ab"])
            answer(25)
            // A reply nobody waits for changes nothing.
            api.vlansReceived(rooms(0, 10, 50), 50, 0, 5)
            compare(logic.publicVlansTotal, 25)
            // Nor does one for another page than the one asked for; the list does not
            // wait for ever for the right one.
            logic.listReplyTimeoutMs = 300
            logic.fetchVlans()
            api.vlansReceived(rooms(10, 10, 50), 50, 1, 5)
            verify(logic.vlansLoading)
            compare(logic.publicVlansTotal, 25)
            tryVerify(() => !logic.vlansLoading, 3000)
            const sent = fetches().length
            logic.refresh()
            compare(fetches().length, sent + 1)
            answer(7)
            compare(logic.publicVlansTotal, 7)
        }

        function test_failingServiceGetsNoStorm() {
            logic.errorRefetchPauseMs = 400
            tryVerify(() => fetches().length === 1)
            // Rows that leave room for more: a failed further page must not be asked for again at once.
            answer(25)
            tryVerify(() => fetches().length === 2)
            compare(fetches()[1].args[0], 1)
            api.requestError("Service unavailable")
            compare(fetches().length, 3)
            compare(fetches()[2].args[0], 0)
            api.requestError("Service unavailable")
            wait(200)
            compare(fetches().length, 3)
            const started = Date.now()
            const first = fetches().length
            // Every list request fails; so do other requests in between.
            for (let i = 0; i < 40; ++i) {
                api.requestError("Service unavailable")
                wait(20)
            }
            const elapsed = Date.now() - started
            const refetches = fetches().length - first
            verify(refetches >= 1)
            verify(refetches <= Math.ceil(elapsed / 400) + 1, refetches + " re-fetches in " + elapsed + " ms")
            // Once the errors stop, at most the one re-fetch still owed follows.
            const before = fetches().length
            wait(3 * 400)
            verify(fetches().length <= before + 1)
        }
    }
}
