#include "platform/MpvVideoWidget.h"

#include "platform/EngineDiagnostics.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QResizeEvent>

#include <mpv/render_gl.h>

MpvRenderWindow::MpvRenderWindow() {
    setSurfaceType(QSurface::OpenGLSurface);
    setFlag(Qt::WindowTransparentForInput);
}

MpvRenderWindow::~MpvRenderWindow() {
    FreeRenderContext();
}

bool MpvRenderWindow::Initialise() {
    if (render_)
        return true;
    if (!core_)
        return false;
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
    if (!context_->makeCurrent(this))
        return false;
    mpv_opengl_init_params glInit{&MpvRenderWindow::ProcAddress, nullptr};
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&render_, core_, params) < 0)
        render_ = nullptr;
    else
        mpv_render_context_set_update_callback(render_, &MpvRenderWindow::OnUpdate, this);
    context_->doneCurrent();
    return render_ != nullptr;
}

void MpvRenderWindow::FreeRenderContext() {
    if (!render_)
        return;
    if (context_)
        context_->makeCurrent(this);
    mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    mpv_render_context_free(render_);
    render_ = nullptr;
    if (context_)
        context_->doneCurrent();
}

void MpvRenderWindow::SetBlank(bool blank) {
    blank_ = blank;
    requestUpdate();
}

void MpvRenderWindow::ServiceEngine() {
    if (!render_ || !context_ || !context_->makeCurrent(this))
        return;
    if (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) {
        // Taken without drawing: the area shows black until playback starts.
        int skip = 1;
        mpv_render_param params[] = {{MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(render_, params);
        // Every render is followed by a swap report, or the engine waits for one.
        mpv_render_context_report_swap(render_);
    }
    context_->doneCurrent();
}

void* MpvRenderWindow::ProcAddress(void*, const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

void MpvRenderWindow::OnUpdate(void* self) {
    // Called on one of the engine's threads, which may call nothing of the engine.
    auto* window = static_cast<MpvRenderWindow*>(self);
    QMetaObject::invokeMethod(
        window, [window] { window->requestUpdate(); }, Qt::QueuedConnection);
}

bool MpvRenderWindow::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        Render();
        return true;
    }
    return QWindow::event(event);
}

void MpvRenderWindow::exposeEvent(QExposeEvent*) {
    if (isExposed())
        Render();
}

void MpvRenderWindow::Render() {
    if (!isExposed() || !context_ || !context_->makeCurrent(this))
        return;
    const qreal ratio = devicePixelRatio();
    const int width = static_cast<int>(this->width() * ratio);
    const int height = static_cast<int>(this->height() * ratio);
    if (!render_ || blank_) {
        QOpenGLFunctions* gl = context_->functions();
        gl->glViewport(0, 0, width, height);
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        context_->swapBuffers(this);
        if (render_)
            mpv_render_context_report_swap(render_);
        context_->doneCurrent();
        return;
    }
    // Asked before drawing, as the render API wants after every update callback.
    const bool newFrame = (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) != 0;
    mpv_opengl_fbo fbo{static_cast<int>(context_->defaultFramebufferObject()), width, height, 0};
    int flipY = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, params);
    context_->swapBuffers(this);
    // Every render is followed by its swap report: the engine paces itself by them.
    mpv_render_context_report_swap(render_);
    context_->doneCurrent();
    if (newFrame)
        EngineDiagnostics::Instance().FrameDrawn();
}

MpvVideoWidget::MpvVideoWidget(QWidget* parent) : QWidget(parent), window_(new MpvRenderWindow) {
    setObjectName(QStringLiteral("VideoSurface"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    container_ = QWidget::createWindowContainer(window_, this);
    container_->setAttribute(Qt::WA_TransparentForMouseEvents);
    container_->setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Picture"));
    container_->setAccessibleName(QStringLiteral("Picture"));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
}

MpvVideoWidget::~MpvVideoWidget() {
    FreeRenderContext();
}

bool MpvVideoWidget::Ready() {
    return window_->Initialise();
}

void MpvVideoWidget::FreeRenderContext() {
    window_->FreeRenderContext();
}

void MpvVideoWidget::SetBlank(bool blank) {
    window_->SetBlank(blank);
}

void MpvVideoWidget::ServiceEngine() {
    window_->ServiceEngine();
}

void MpvVideoWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    container_->setGeometry(rect());
}
