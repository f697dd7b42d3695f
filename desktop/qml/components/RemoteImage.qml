import QtQuick

// A picture from the network that is asked for once before it is shown: a
// broken link then just leaves the place empty (status stays Null) instead of
// putting a load error into the program's output.
Image {
    id: image
    property string url: ""
    // Outlives the item, so a reply arriving after destruction is dropped quietly.
    property var _probe: ({ alive: true, url: "" })

    asynchronous: true
    onUrlChanged: probe()
    Component.onCompleted: probe()
    Component.onDestruction: _probe.alive = false

    function probe() {
        _probe.alive = false
        source = ""
        if (url === "")
            return
        if (!url.startsWith("http://") && !url.startsWith("https://")) {
            source = url
            return
        }
        const probe = { alive: true, url: url }
        _probe = probe
        const request = new XMLHttpRequest()
        request.onreadystatechange = function () {
            if (request.readyState !== XMLHttpRequest.DONE || !probe.alive)
                return
            if (request.status === 200)
                image.source = probe.url
        }
        request.open("GET", probe.url)
        request.send()
    }
}
