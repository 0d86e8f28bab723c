#include "platform/MpvVideoWidget.h"

#include "platform/EngineDiagnostics.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <mpv/render_gl.h>

MpvVideoWidget::MpvVideoWidget(QWidget* parent, mpv_handle* core)
    : QOpenGLWidget(parent), core_(core) {
    setObjectName(QStringLiteral("VideoSurface"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // Once one swap has been reported the engine waits for a report after every
    // frame, so each real swap is reported and nothing else: a missing report
    // costs a timeout per frame.
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (render_)
            mpv_render_context_report_swap(render_);
    });
}

MpvVideoWidget::~MpvVideoWidget() {
    FreeRenderContext();
}

void MpvVideoWidget::FreeRenderContext() {
    if (!render_)
        return;
    makeCurrent();
    mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    mpv_render_context_free(render_);
    render_ = nullptr;
    doneCurrent();
}

void MpvVideoWidget::SetBlank(bool blank) {
    blank_ = blank;
    update();
}

void MpvVideoWidget::ServiceEngine() {
    if (!render_ || !context())
        return;
    makeCurrent();
    if (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) {
        // Taken without drawing: the area shows black until playback starts.
        int skip = 1;
        mpv_render_param params[] = {{MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(render_, params);
        // Every render is followed by a swap report, or the engine waits for one.
        mpv_render_context_report_swap(render_);
    }
    doneCurrent();
}

void* MpvVideoWidget::ProcAddress(void*, const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

void MpvVideoWidget::OnUpdate(void* self) {
    // Called on one of the engine's threads, which may call nothing of the engine.
    auto* widget = static_cast<MpvVideoWidget*>(self);
    QMetaObject::invokeMethod(
        widget, [widget] { widget->update(); }, Qt::QueuedConnection);
}

void MpvVideoWidget::initializeGL() {
    if (render_ || !core_)
        return;
    mpv_opengl_init_params glInit{&MpvVideoWidget::ProcAddress, nullptr};
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&render_, core_, params) < 0) {
        render_ = nullptr;
        return;
    }
    mpv_render_context_set_update_callback(render_, &MpvVideoWidget::OnUpdate, this);
}

void MpvVideoWidget::paintGL() {
    if (!render_ || blank_) {
        QOpenGLFunctions* gl = context()->functions();
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    // Asked before drawing, as the render API wants after every update callback.
    const bool newFrame = (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) != 0;
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                       static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, params);
    if (newFrame)
        EngineDiagnostics::Instance().FrameDrawn();
}
