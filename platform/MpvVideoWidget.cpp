// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/MpvVideoWidget.h"

#include "platform/EngineDiagnostics.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QTransform>

#include <mpv/render_gl.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

// How long the renderer's name may take to read, once, before the first picture.
constexpr int kProbeTimeoutMs = 3000;

// Runs in the forked child: no Qt, a connection of its own to the display
// server, EGL loaded only here. Writes GL_RENDERER to out and ends.
[[noreturn]] void ProbeInChild(int out, EGLenum platform) {
    // The player's handlers would answer this process's signals and crashes in
    // the player's name: through its own wake-up pipes.
    for (int number = 1; number < NSIG; ++number)
        ::signal(number, SIG_DFL);
    const auto fail = [] {
        ::_exit(1);
    };
    void* library = ::dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        fail();
    auto getProc =
        reinterpret_cast<PFNEGLGETPROCADDRESSPROC>(::dlsym(library, "eglGetProcAddress"));
    if (!getProc)
        fail();
    const auto get = [&](const char* name) {
        return getProc(name);
    };
    auto getDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(get("eglGetPlatformDisplayEXT"));
    auto initialise = reinterpret_cast<PFNEGLINITIALIZEPROC>(get("eglInitialize"));
    auto bindApi = reinterpret_cast<PFNEGLBINDAPIPROC>(get("eglBindAPI"));
    auto chooseConfig = reinterpret_cast<PFNEGLCHOOSECONFIGPROC>(get("eglChooseConfig"));
    auto createPbuffer =
        reinterpret_cast<PFNEGLCREATEPBUFFERSURFACEPROC>(get("eglCreatePbufferSurface"));
    auto createContext = reinterpret_cast<PFNEGLCREATECONTEXTPROC>(get("eglCreateContext"));
    auto makeCurrent = reinterpret_cast<PFNEGLMAKECURRENTPROC>(get("eglMakeCurrent"));
    using GetString = const GLubyte* (*)(GLenum);
    auto getString = reinterpret_cast<GetString>(get("glGetString"));
    if (!getDisplay || !initialise || !bindApi || !chooseConfig || !createPbuffer ||
        !createContext || !makeCurrent || !getString)
        fail();
    EGLDisplay display = getDisplay(platform, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !initialise(display, nullptr, nullptr) ||
        !bindApi(EGL_OPENGL_API))
        fail();
    const EGLint wanted[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                             EGL_NONE};
    EGLConfig config = nullptr;
    EGLint found = 0;
    if (!chooseConfig(display, wanted, &config, 1, &found) || found < 1)
        fail();
    const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    EGLSurface surface = createPbuffer(display, config, size);
    EGLContext context = createContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (surface == EGL_NO_SURFACE || context == EGL_NO_CONTEXT ||
        !makeCurrent(display, surface, surface, context))
        fail();
    const char* renderer = reinterpret_cast<const char*>(getString(GL_RENDERER));
    if (!renderer)
        fail();
    const std::size_t length = std::strlen(renderer);
    const bool written = ::write(out, renderer, length) == static_cast<ssize_t>(length);
    // Nothing is torn down: the process ends here, without running this one's exit handlers.
    ::_exit(written ? 0 : 1);
}

EGLenum ProbePlatform() {
    const QString name = QGuiApplication::platformName();
    if (name == QStringLiteral("xcb"))
        return EGL_PLATFORM_X11_KHR;
    if (name.startsWith(QStringLiteral("wayland")))
        return EGL_PLATFORM_WAYLAND_KHR;
    return EGL_PLATFORM_SURFACELESS_MESA;
}

void PrintPath(const char* path, const QByteArray& renderer, const char* why) {
    if (!EngineDiagnostics::Instance().Enabled())
        return;
    std::fprintf(stderr, "qel-diagnostics: render-path %s why=%s renderer=\"%s\"\n", path, why,
                 renderer.constData());
}

} // namespace

bool IsSoftwareRasteriser(const QByteArray& renderer) {
    const QByteArray name = renderer.toLower();
    return name.contains("llvmpipe") || name.contains("softpipe") || name.contains("swrast") ||
           name.contains("software rasterizer");
}

RendererProbe::~RendererProbe() {
    exited_.reset();
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, WNOHANG);
    }
    for (const int fd : {pipe_, ended_})
        if (fd >= 0)
            ::close(fd);
}

void RendererProbe::Start(Done done, int deadlineMs) {
    done_ = std::move(done);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return Report();
    const EGLenum platform = ProbePlatform();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        ProbeInChild(ends[1], platform);
    }
    ::close(ends[1]);
    pipe_ = ends[0];
    if (child < 0)
        return Report();
    child_ = child;
    // Readable once the child has ended, and only then reaped: nothing waits for it.
    ended_ = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (ended_ < 0) {
        // A kernel older than 5.3: no name, and a child just made ends at once.
        ::kill(child_, SIGKILL);
        ::waitpid(std::exchange(child_, -1), nullptr, 0);
        return Report();
    }
    exited_ = std::make_unique<QSocketNotifier>(ended_, QSocketNotifier::Read);
    QObject::connect(exited_.get(), &QSocketNotifier::activated, exited_.get(), [this] { Reap(); });
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, &deadline_, [this] {
        // It hung: ended, and reaped when it has.
        if (child_ > 0)
            ::kill(child_, SIGKILL);
        Report();
    });
    deadline_.start(deadlineMs);
}

void RendererProbe::Reap() {
    // All the child wrote is in the pipe by now.
    std::array<char, 256> buffer;
    ssize_t got;
    while ((got = ::read(pipe_, buffer.data(), buffer.size())) > 0)
        if (result_.size() < 4096)
            result_.append(buffer.data(), got);
    exited_.reset();
    ::waitpid(std::exchange(child_, -1), nullptr, WNOHANG);
    for (int* fd : {&pipe_, &ended_})
        ::close(std::exchange(*fd, -1));
    Report();
}

void RendererProbe::Report() {
    deadline_.stop();
    if (const Done done = std::exchange(done_, nullptr))
        done(result_);
}

MpvSurfaceWindow::MpvSurfaceWindow(QSurface::SurfaceType type) {
    setSurfaceType(type);
    setFlag(Qt::WindowTransparentForInput);
    due_.setSingleShot(true);
    due_.setTimerType(Qt::PreciseTimer);
    connect(&due_, &QTimer::timeout, this, [this] { ShowDrawn(true); });
}

MpvSurfaceWindow::~MpvSurfaceWindow() {
    FreeRenderContext();
}

bool MpvSurfaceWindow::Created(mpv_handle* core, int result) {
    if (result < 0) {
        render_ = nullptr;
        return false;
    }
    core_ = core;
    mpv_render_context_set_update_callback(
        render_,
        [](void* self) {
            // On one of the engine's threads, which may call nothing of the engine.
            auto* window = static_cast<MpvSurfaceWindow*>(self);
            QMetaObject::invokeMethod(
                window, [window] { window->requestUpdate(); }, Qt::QueuedConnection);
        },
        this);
    return true;
}

void MpvSurfaceWindow::FreeRenderContext() {
    drawn_ = false;
    due_.stop();
    if (!render_)
        return;
    MakeCurrent();
    mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    mpv_render_context_free(render_);
    render_ = nullptr;
    DoneCurrent();
}

void MpvSurfaceWindow::AbandonRenderContext() {
    drawn_ = false;
    due_.stop();
    if (render_)
        mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    render_ = nullptr;
}

void MpvSurfaceWindow::SetBlank(bool blank) {
    blank_ = blank;
    if (blank)
        frameHeld_ = false;
    requestUpdate();
}

bool MpvSurfaceWindow::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        Render();
        return true;
    }
    return QWindow::event(event);
}

void MpvSurfaceWindow::exposeEvent(QExposeEvent*) {
    if (isExposed())
        Render();
}

void MpvSurfaceWindow::Render() {
    if (!isExposed())
        return;
    const bool picture = render_ && !blank_;
    // One frame at a time: one still waiting for its time goes up first.
    ShowDrawn(picture);
    std::int64_t due = 0;
    if (picture) {
        mpv_render_frame_info next{};
        mpv_render_param info{MPV_RENDER_PARAM_NEXT_FRAME_INFO, &next};
        if (mpv_render_context_get_info(render_, info) >= 0 &&
            !(next.flags & MPV_RENDER_FRAME_INFO_REDRAW))
            due = next.target_time;
        // Asked before drawing, as the render API wants after every update callback.
        drawnNew_ = (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) != 0;
    }
    if (!Draw(picture))
        return;
    drawn_ = true;
    drawnPicture_ = picture;
    // The engine hands a frame over up to 50 ms before its time, so that drawing
    // it has room; it is shown at its time.
    const std::int64_t waitUs = due > 0 && core_ ? due - mpv_get_time_us(core_) : 0;
    if (picture && waitUs >= 1000)
        due_.start(static_cast<int>(waitUs / 1000));
    else
        ShowDrawn(true);
}

void MpvSurfaceWindow::ShowDrawn(bool show) {
    if (!drawn_)
        return;
    drawn_ = false;
    due_.stop();
    if (show)
        Show();
    if (!render_ || !drawnPicture_)
        return;
    // The engine paces itself by these reports.
    mpv_render_context_report_swap(render_);
    if (show) {
        if (drawnNew_ || frameHeld_)
            EngineDiagnostics::Instance().FrameDrawn(drawnNew_);
        frameHeld_ = false;
    }
}

MpvRenderWindow::MpvRenderWindow() : MpvSurfaceWindow(QSurface::OpenGLSurface) {}

MpvRenderWindow::~MpvRenderWindow() {
    FreeRenderContext(); // with its GL context current, which the base cannot make
}

bool MpvRenderWindow::MakeCurrent() {
    return context_ && context_->makeCurrent(this);
}

void MpvRenderWindow::DoneCurrent() {
    if (context_)
        context_->doneCurrent();
}

bool MpvRenderWindow::Initialise(mpv_handle* core) {
    if (render_)
        return true;
    if (!handle())
        create();
    if (!context_) {
        context_ = std::make_unique<QOpenGLContext>();
        context_->setFormat(requestedFormat());
        if (!context_->create()) {
            context_.reset();
            return false;
        }
    }
    if (!MakeCurrent())
        return false;
    // From mpv 0.37 the default scalers are two-pass ones into float buffers:
    // costly on a software rasteriser, and on Mesa 25's llvmpipe a process
    // sometimes draws every picture black through them. mpv 0.35's defaults.
    const auto* renderer =
        reinterpret_cast<const char*>(context_->functions()->glGetString(GL_RENDERER));
    if (renderer && IsSoftwareRasteriser(renderer)) {
        for (const char* option : {"scale", "dscale"}) {
            const char* bilinear[] = {"set", option, "bilinear", nullptr};
            mpv_command_async(core, 0, bilinear);
        }
    }
    mpv_opengl_init_params glInit{&MpvRenderWindow::ProcAddress, nullptr};
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    const bool made = Created(core, mpv_render_context_create(&render_, core, params));
    DoneCurrent();
    return made;
}

void MpvRenderWindow::ServiceEngine() {
    if (!render_ || !MakeCurrent())
        return;
    if (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) {
        // Taken without drawing: the area shows black until playback starts.
        int skip = 1;
        int block = kRenderNow;
        mpv_render_param params[] = {{MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
                                     {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(render_, params);
        // Every render is followed by a swap report, or the engine waits for one.
        mpv_render_context_report_swap(render_);
        frameHeld_ = true;
    }
    DoneCurrent();
}

void* MpvRenderWindow::ProcAddress(void*, const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

bool MpvRenderWindow::Draw(bool picture) {
    if (!MakeCurrent())
        return false;
    const qreal ratio = devicePixelRatio();
    const int width = static_cast<int>(this->width() * ratio);
    const int height = static_cast<int>(this->height() * ratio);
    if (!picture) {
        QOpenGLFunctions* gl = context_->functions();
        gl->glViewport(0, 0, width, height);
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        return true;
    }
    mpv_opengl_fbo fbo{static_cast<int>(context_->defaultFramebufferObject()), width, height, 0};
    int flipY = 1;
    int block = kRenderNow;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, params);
    return true;
}

void MpvRenderWindow::Show() {
    if (MakeCurrent())
        context_->swapBuffers(this);
    DoneCurrent();
}

MpvSoftwareWindow::MpvSoftwareWindow() : MpvSurfaceWindow(QSurface::RasterSurface), store_(this) {}

bool MpvSoftwareWindow::Initialise(mpv_handle* core) {
    if (render_)
        return true;
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    return Created(core, mpv_render_context_create(&render_, core, params));
}

void MpvSoftwareWindow::SetRotation(int degrees) {
    const int rotation = (degrees % 360 + 360) % 360;
    // Other angles are not quarter turns, which this window cannot make: upright.
    const int turn = rotation % 90 == 0 ? rotation : 0;
    if (turn == rotation_)
        return;
    rotation_ = turn;
    requestUpdate();
}

void MpvSoftwareWindow::resizeEvent(QResizeEvent*) {
    store_.resize(size());
}

bool MpvSoftwareWindow::RenderInto(unsigned char* pixels, QSize size, qsizetype stride, bool skip) {
    // An empty target makes the engine's renderer crop outside it, which ends the process.
    if (size.isEmpty())
        return false;
    int target[2] = {size.width(), size.height()};
    std::size_t bytesPerLine = static_cast<std::size_t>(stride);
    int skipRendering = skip ? 1 : 0;
    int block = kRenderNow;
    // Byte order B, G, R, X: QImage's RGB32 on a little-endian machine.
    char format[] = "bgr0";
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, target},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &bytesPerLine},
                                 {MPV_RENDER_PARAM_SW_POINTER, pixels},
                                 {MPV_RENDER_PARAM_SKIP_RENDERING, &skipRendering},
                                 {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    return mpv_render_context_render(render_, params) >= 0;
}

void MpvSoftwareWindow::ServiceEngine() {
    if (render_ && (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME)) {
        // Taken without drawing: the area shows black until playback starts.
        unsigned char pixel[64] = {};
        frameHeld_ = RenderInto(pixel, QSize(1, 1), 64, true) || frameHeld_;
        // Every render is followed by a swap report, or the engine waits for one.
        mpv_render_context_report_swap(render_);
    }
}

bool MpvSoftwareWindow::Draw(bool picture) {
    const QRect area(QPoint(0, 0), size());
    if (store_.size() != size())
        store_.resize(size());
    store_.beginPaint(area);
    auto* image = store_.paintDevice()->devType() == QInternal::Image
                      ? static_cast<QImage*>(store_.paintDevice())
                      : nullptr;
    if (!picture) {
        QPainter painter(store_.paintDevice());
        painter.fillRect(area, Qt::black);
    } else {
        // Straight into the backing store where it is an image of the engine's
        // format and the picture is upright.
        if (rotation_ == 0 && image && image->format() == QImage::Format_RGB32) {
            RenderInto(image->bits(), image->size(), image->bytesPerLine(), false);
        } else {
            const QSize pixels = image ? image->size() : area.size() * devicePixelRatio();
            // Upright at the size that the turn brings to the window's.
            const QSize upright = rotation_ % 180 == 0 ? pixels : pixels.transposed();
            if (frame_.size() != upright) {
                // Pointer and stride on 64 bytes, as the engine's scaler wants them.
                const qsizetype stride = (qsizetype(upright.width()) * 4 + 63) / 64 * 64;
                pixels_.reset(
                    static_cast<unsigned char*>(std::aligned_alloc(64, stride * upright.height())));
                frame_ = pixels_ ? QImage(pixels_.get(), upright.width(), upright.height(), stride,
                                          QImage::Format_RGB32)
                                 : QImage();
                frame_.setDevicePixelRatio(devicePixelRatio());
            }
            if (!frame_.isNull())
                RenderInto(frame_.bits(), frame_.size(), frame_.bytesPerLine(), false);
            QPainter painter(store_.paintDevice());
            if (rotation_ == 0 || frame_.isNull()) {
                painter.drawImage(QPointF(0, 0), frame_);
            } else {
                QImage turned = frame_.transformed(QTransform().rotate(rotation_));
                turned.setDevicePixelRatio(devicePixelRatio());
                painter.drawImage(QPointF(0, 0), turned);
            }
        }
    }
    store_.endPaint();
    return true;
}

void MpvSoftwareWindow::Show() {
    store_.flush(QRect(QPoint(0, 0), store_.size()));
}

MpvVideoWidget::MpvVideoWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("VideoSurface"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Picture"));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    // Once the window is up, while the engine starts.
    QTimer::singleShot(0, this, [this] {
        // Forced by the test suite, so that both paths stay tested on one machine.
        const QByteArray forced = qgetenv("QEL_RENDER_PATH");
        if (forced != "software" && forced != "opengl")
            return probe_.Start([this](const QByteArray& renderer) { Choose(renderer); },
                                kProbeTimeoutMs);
        path_ = forced == "software" ? RenderPath::Software : RenderPath::OpenGL;
        PrintPath(forced.constData(), QByteArray(), "forced");
        Q_EMIT PathChosen();
    });
}

MpvVideoWidget::~MpvVideoWidget() {
    FreeRenderContext();
}

void MpvVideoWidget::Choose(const QByteArray& renderer) {
    if (IsSoftwareRasteriser(renderer)) {
        path_ = RenderPath::Software;
        PrintPath("software", renderer, "renderer");
    } else {
        // A real GPU, or a renderer that could not be read: OpenGL, as the
        // engine's GPU decoding needs; software if no GL context can be made.
        path_ = RenderPath::OpenGL;
        PrintPath("opengl", renderer, renderer.isEmpty() ? "unknown" : "renderer");
    }
    Q_EMIT PathChosen();
}

bool MpvVideoWidget::Ready() {
    if (!core_ || path_ == RenderPath::Undecided)
        return false;
    if (!window_ && path_ == RenderPath::OpenGL) {
        Contain(new MpvRenderWindow);
    } else if (!window_) {
        // GPU decoding has nothing to hand its frames to here.
        mpv_set_property_string(core_, "hwdec", "no");
        // The engine's software renderer draws every frame upright, and one that
        // declares a quarter turn makes it crop outside the picture: an assertion
        // that ends the process (mpv 0.35.1 to 0.40). Frames reach it upright,
        // after any filter that could bring the rotation back, and the window
        // turns the picture.
        const char* upright[] = {"vf", "add", "@qel-upright:format=rotate=0", nullptr};
        mpv_command_async(core_, 0, upright);
        Contain(new MpvSoftwareWindow);
    }
    if (window_->Initialise(core_))
        return true;
    // No OpenGL to be had: the software renderer still shows the picture.
    if (path_ != RenderPath::OpenGL || qgetenv("QEL_RENDER_PATH") == "opengl")
        return false;
    path_ = RenderPath::Software;
    PrintPath("software", QByteArray(), "no-opengl");
    delete container_;
    container_ = nullptr;
    window_ = nullptr;
    return Ready();
}

void MpvVideoWidget::Contain(MpvSurfaceWindow* window) {
    window_ = window;
    window->SetBlank(blank_);
    window->SetRotation(rotation_);
    container_ = QWidget::createWindowContainer(window, this);
    container_->setAttribute(Qt::WA_TransparentForMouseEvents);
    container_->setFocusPolicy(Qt::NoFocus);
    container_->setAccessibleName(QStringLiteral("Picture"));
    container_->setGeometry(rect());
    container_->show();
}

void MpvVideoWidget::FreeRenderContext() {
    if (window_)
        window_->FreeRenderContext();
}

void MpvVideoWidget::AbandonRenderContext() {
    if (window_)
        window_->AbandonRenderContext();
}

void MpvVideoWidget::SetBlank(bool blank) {
    blank_ = blank;
    if (window_)
        window_->SetBlank(blank);
}

void MpvVideoWidget::SetRotation(int degrees) {
    // The OpenGL renderer turns the picture itself; the software window turns it.
    rotation_ = degrees;
    if (window_)
        window_->SetRotation(degrees);
}

void MpvVideoWidget::ServiceEngine() {
    if (window_)
        window_->ServiceEngine();
}

void MpvVideoWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (container_)
        container_->setGeometry(rect());
}
