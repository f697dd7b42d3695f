// Frame times of the LAN page while its public room list scrolls through 500 rooms.
// Each iteration moves the list by one step and waits for the frame that shows it;
// the reported time is that frame's, from the move to the finished swap.
// Real numbers need a real window: run under Xvfb (or a desktop) with the xcb platform.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSurfaceFormat>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kRooms = 500;
constexpr qreal kStepPx = 37; // not a multiple of the row height, so rows enter at every offset

struct Scene
{
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;
    QQuickItem *page = nullptr;
    QQuickItem *list = nullptr;
    QString error;
};

QVariantList rooms()
{
    static const char *const games[] = {"Counter Strike 1.6", "Age of Empires II", "Warcraft III",
                                        "Heroes of Might & Magic III", "Left 4 Dead 2"};
    QVariantList list;
    for (int i = 0; i < kRooms; ++i) {
        const int capacity = 2 + i % 49;
        list.append(QVariantMap{{"id", QStringLiteral("v%1").arg(i + 1)},
                                {"name", QStringLiteral("Player%1 (%2)").arg(i).arg(QLatin1String(games[i % 5]))},
                                {"players", i % 7 == 0 ? capacity : i % capacity},
                                {"capacity", capacity}});
    }
    return list;
}

std::unique_ptr<Scene> g_scene; // ends before the application object does

// The page with a recording stand-in for `api`, showing 500 rooms in one list.
Scene &scene()
{
    if (g_scene)
        return *g_scene;
    g_scene = std::make_unique<Scene>();
    Scene &s = *g_scene;
    s.engine.addImportPath(QStringLiteral("qrc:/"));
    QQmlComponent standIn(&s.engine, QUrl::fromLocalFile(QStringLiteral(CORVANA_QML_TEST_DIR "/StandInApi.qml")));
    QObject *api = standIn.create();
    if (!api) {
        s.error = standIn.errorString();
        return s;
    }
    api->setParent(&s.engine);
    s.engine.rootContext()->setContextProperty(QStringLiteral("api"), api);

    QQmlComponent component(&s.engine);
    component.setData("import QtQuick\n"
                      "import \"qrc:/qml/pages\"\n"
                      "Window { width: 1222; height: 720; visible: true; color: \"#16161c\"\n"
                      "  property alias page: lan\n"
                      "  LanPage { id: lan; anchors.fill: parent } }\n",
                      QUrl(QStringLiteral("qrc:/bench/LanListBench.qml")));
    s.window.reset(qobject_cast<QQuickWindow *>(component.create()));
    if (!s.window) {
        s.error = component.errorString();
        return s;
    }
    s.page = s.window->property("page").value<QQuickItem *>();
    // The page asked for page 0 when it appeared; answer it with every room at once.
    QMetaObject::invokeMethod(api, "vlansReceived", Q_ARG(QVariant, QVariant(rooms())), Q_ARG(int, kRooms),
                              Q_ARG(int, 0), Q_ARG(int, 1));
    s.list = s.page->property("listView").value<QQuickItem *>();
    if (!s.list || s.page->property("publicVlansList").toList().size() != kRooms)
        s.error = QStringLiteral("the page did not take the 500 rooms");
    return s;
}

// Moves the list and waits for the frame that shows the move; its duration in seconds.
double scrollFrame(Scene &s, qreal y)
{
    QEventLoop loop;
    const auto done = QObject::connect(s.window.get(), &QQuickWindow::frameSwapped, &loop, &QEventLoop::quit);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    s.list->setProperty("contentY", y);
    s.window->update();
    guard.start(2000);
    loop.exec();
    QObject::disconnect(done);
    return double(timer.nsecsElapsed()) / 1e9;
}

// The scene, or none with the benchmark marked as failed.
Scene *readyScene(benchmark::State &state)
{
    Scene &s = scene();
    if (s.error.isEmpty())
        return &s;
    state.SkipWithError(qPrintable(s.error));
    return nullptr;
}

void BM_LanListScroll(benchmark::State &state)
{
    Scene *scenePtr = readyScene(state);
    if (!scenePtr)
        return;
    Scene &s = *scenePtr;
    const qreal origin = s.list->property("originY").toReal();
    const qreal end = origin + s.list->property("contentHeight").toReal() - s.list->height();
    qreal y = origin;
    qreal direction = 1;
    std::vector<double> frames;
    for (auto _ : state) {
        y += direction * kStepPx;
        if (y > end || y < origin) {
            direction = -direction;
            y = std::clamp(y, origin, end);
        }
        const double seconds = scrollFrame(s, y);
        frames.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    std::sort(frames.begin(), frames.end());
    const auto at = [&](double q) { return frames[std::min(frames.size() - 1, size_t(q * double(frames.size())))] * 1e3; };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p95_ms"] = at(0.95);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = frames.back() * 1e3;
    state.counters["rooms"] = double(s.page->property("publicVlansList").toList().size());
    // The page must still hold every room and have asked for nothing more.
    if (s.page->property("hasMoreVlans").toBool())
        state.SkipWithError("the list wanted more pages");
}

// The same frame without a move: what drawing the window costs by itself.
void BM_LanListStill(benchmark::State &state)
{
    Scene *scenePtr = readyScene(state);
    if (!scenePtr)
        return;
    Scene &s = *scenePtr;
    const qreal y = s.list->property("contentY").toReal();
    for (auto _ : state)
        state.SetIterationTime(scrollFrame(s, y));
}

} // namespace

int main(int argc, char **argv)
{
    // Frames on the GUI thread and unthrottled, so each one is measured alone.
    qputenv("QSG_RENDER_LOOP", "basic");
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapInterval(0);
    QSurfaceFormat::setDefaultFormat(format);
    QGuiApplication app(argc, argv);
    // CORVANA_BENCH_FRAMES shortens both runs (the CTest smoke run).
    const bool shortRun = qEnvironmentVariableIsSet("CORVANA_BENCH_FRAMES");
    const int shortFrames = std::max(10, qEnvironmentVariableIntValue("CORVANA_BENCH_FRAMES"));
    struct Run { const char *name; void (*fn)(benchmark::State &); int frames; };
    for (const Run &run : {Run{"BM_LanListScroll", BM_LanListScroll, 600}, Run{"BM_LanListStill", BM_LanListStill, 200}})
        benchmark::RegisterBenchmark(run.name, run.fn)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(shortRun ? shortFrames : run.frames);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_scene.reset();
    return 0;
}
