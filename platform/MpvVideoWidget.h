#pragma once

#include <QOpenGLWidget>

struct mpv_handle;
struct mpv_render_context;

// Draws the engine's picture through its render API, stretched over the widget.
// The widget lets every mouse event through to the window beneath it.
class MpvVideoWidget : public QOpenGLWidget {
    Q_OBJECT
public:
    MpvVideoWidget(QWidget* parent, mpv_handle* core);
    ~MpvVideoWidget() override;

    // Whether the render context exists, so the engine can show video.
    bool Ready() const { return render_ != nullptr; }
    // Frees the render context (the engine's core must still be alive).
    void FreeRenderContext();
    // Paints black instead of the engine's last picture.
    void SetBlank(bool blank);
    // Runs what the engine asked of the render side. The engine's video output
    // waits for this after reconfiguring, so a caller that blocks the window's
    // thread waiting on the engine must call it while it waits.
    void ServiceEngine();

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    static void* ProcAddress(void* context, const char* name);
    static void OnUpdate(void* self);

    mpv_handle* core_;
    mpv_render_context* render_ = nullptr;
    bool blank_ = true;
};
