import QtQuick

// A picture from the network that is loaded and decoded once before it is
// shown: a broken link, or bytes that are not a picture, leave the place empty
// (status stays Null, `failed` is emitted) instead of putting an image error
// into the program's output, as an Image given such an address does.
Image {
    id: image
    property string url: ""
    signal failed()

    asynchronous: true
    onUrlChanged: probe()
    Component.onCompleted: probe()

    function probe() {
        source = ""
        if (url === "")
            return
        // The program's own pictures load as they are; from anywhere else only
        // the web is asked, so an address the service names never opens a local file.
        if (url.startsWith("qrc:/")) {
            source = url
            return
        }
        if (!url.startsWith("http://") && !url.startsWith("https://")) {
            failed()
            return
        }
        checker.check(url)
    }

    // A canvas loads and decodes pictures like an Image but reports a failure
    // only to whoever asks, not to the output.
    Canvas {
        id: checker
        width: 0
        height: 0
        visible: false
        property var asked: []

        function check(address) {
            if (asked.indexOf(address) < 0)
                asked = asked.concat([address])
            loadImage(address)
            settle()
        }
        // A picture already in the cache is ready at once, without imageLoaded.
        function settle() {
            const waiting = []
            for (const address of asked) {
                const ok = isImageLoaded(address)
                if (!ok && !isImageError(address)) {
                    waiting.push(address)
                    continue
                }
                unloadImage(address)
                if (address !== image.url)
                    continue
                if (ok)
                    image.source = address
                else
                    image.failed()
            }
            asked = waiting
        }
        onImageLoaded: settle()
    }
}
