#pragma once

#include <QWidget>
#include <QWindow>

#include <memory>

struct mpv_handle;
struct mpv_render_context;
class QOpenGLContext;

// A native window that the engine draws into through its render API. It takes
// no input: clicks fall through to the window beneath.
class MpvRenderWindow : public QWindow {
    Q_OBJECT
public:
    MpvRenderWindow();
    // The engine to draw; set once, before Initialise.
    void SetCore(mpv_handle* core) { core_ = core; }
    ~MpvRenderWindow() override;

    // Creates the GL context and the engine's render context; false when there
    // is no OpenGL to be had.
    bool Initialise();
    bool Ready() const { return render_ != nullptr; }
    void FreeRenderContext();
    void SetBlank(bool blank);
    void ServiceEngine();
    void Render();

protected:
    bool event(QEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;

private:
    static void* ProcAddress(void* context, const char* name);
    static void OnUpdate(void* self);

    mpv_handle* core_ = nullptr;
    std::unique_ptr<QOpenGLContext> context_;
    mpv_render_context* render_ = nullptr;
    bool blank_ = true;
};

// The video surface in the video area: a container for the render window, so
// that the picture goes straight to the screen instead of through the widget
// window's composition (a third of the cost of playing with software OpenGL).
// The container is shown only while a picture plays; it stacks above the area's
// other children.
class MpvVideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit MpvVideoWidget(QWidget* parent);
    void SetCore(mpv_handle* core) { window_->SetCore(core); }
    ~MpvVideoWidget() override;

    // Whether the render context exists, so the engine can show video.
    bool Ready();
    // Frees the render context (the engine's core must still be alive).
    void FreeRenderContext();
    // Black and hidden instead of the engine's last picture.
    void SetBlank(bool blank);
    // Runs what the engine asked of the render side. The engine's video output
    // waits for this after reconfiguring, so a caller that blocks the window's
    // thread waiting on the engine must call it while it waits.
    void ServiceEngine();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    MpvRenderWindow* window_; // owned by the container
    QWidget* container_;
};
