import QtQuick

// The page scrolls, not its lists: this stands for a whole list in the page, and
// a view laid over it at `viewY`, `viewHeight` tall, covers the part the page
// has in sight, so it makes items for that part only and reuses them as the page
// scrolls, whatever the length of the list. The view's content follows its place
// (contentY = originY + y).
Item {
    required property Flickable pageScroller
    required property Item pageContent
    // Where the page's view starts, in this item; read again whenever the page
    // scrolls or what stands above changes size.
    readonly property real viewTop: {
        void (pageScroller.contentY + pageContent.height + y + height)
        return pageScroller.contentY - mapToItem(pageContent, 0, 0).y
    }
    readonly property real viewHeight: Math.min(height, pageScroller.height)
    readonly property real viewY: Math.max(0, Math.min(height - viewHeight, viewTop))
}
