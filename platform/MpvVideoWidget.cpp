#include "platform/MpvVideoWidget.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <mpv/render_gl.h>

MpvVideoWidget::MpvVideoWidget(QWidget* parent, mpv_handle* core)
    : QOpenGLWidget(parent), core_(core) {
    setObjectName(QStringLiteral("VideoSurface"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
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
        if (render_)
            mpv_render_context_report_swap(render_);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                       static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, params);
}
