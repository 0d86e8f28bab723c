// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QBackingStore>
#include <QImage>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/types.h>

struct mpv_handle;
struct mpv_render_context;
class QOpenGLContext;

// A native window that the engine draws into through its render API. It takes
// no input: clicks fall through to the window beneath.
class MpvSurfaceWindow : public QWindow {
    Q_OBJECT
public:
    ~MpvSurfaceWindow() override;

    // Creates the engine's render context; false when it cannot be had.
    virtual bool Initialise(mpv_handle* core) = 0;
    void FreeRenderContext();
    // For a core that never shut down: freeing would wait for it.
    void AbandonRenderContext();
    void SetBlank(bool blank);
    // Takes a frame the engine has ready without drawing it, so that the engine
    // does not wait while the area is blank.
    virtual void ServiceEngine() = 0;
    // The clockwise quarter turns the picture declares.
    virtual void SetRotation(int) {}

protected:
    explicit MpvSurfaceWindow(QSurface::SurfaceType type);
    bool event(QEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;
    // Draws the picture, or black, ready to be shown; false when it could not.
    virtual bool Draw(bool picture) = 0;
    // Puts what was drawn on the screen.
    virtual void Show() = 0;
    // Makes the render context's API current around the engine's calls.
    virtual bool MakeCurrent() { return true; }
    virtual void DoneCurrent() {}
    bool Created(mpv_handle* core, int result);

    // Never waits for a frame's time: the engine hands each over ahead of it.
    static constexpr int kRenderNow = 0;

    mpv_render_context* render_ = nullptr;
    bool blank_ = true;
    bool frameHeld_ = false; // a frame of the open file, taken while the area was blank

private:
    void Render();
    // What was drawn goes up, or is dropped for black; the engine hears either way.
    void ShowDrawn(bool show);

    mpv_handle* core_ = nullptr; // the engine's clock
    QTimer due_;                 // until the drawn frame's time
    bool drawn_ = false;         // a frame drawn and not yet shown
    bool drawnPicture_ = false;  // the engine's, not black
    bool drawnNew_ = false;
};

// Where a GPU draws: a GL window.
class MpvRenderWindow : public MpvSurfaceWindow {
    Q_OBJECT
public:
    MpvRenderWindow();
    ~MpvRenderWindow() override;
    bool Initialise(mpv_handle* core) override;
    void ServiceEngine() override;

protected:
    bool Draw(bool picture) override;
    void Show() override;
    bool MakeCurrent() override;
    void DoneCurrent() override;

private:
    static void* ProcAddress(void* context, const char* name);

    std::unique_ptr<QOpenGLContext> context_;
};

// A native raster window that the engine's software renderer draws into: straight
// into the window's own backing store where it is an image the engine can take,
// and from there to the screen, as the engine's own X11 output does.
class MpvSoftwareWindow : public MpvSurfaceWindow {
    Q_OBJECT
public:
    MpvSoftwareWindow();
    bool Initialise(mpv_handle* core) override;
    void ServiceEngine() override;
    // It arrives upright; this window turns it.
    void SetRotation(int degrees) override;

protected:
    bool Draw(bool picture) override;
    void Show() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool RenderInto(unsigned char* pixels, QSize size, qsizetype stride, bool skip);

    struct FreeDeleter {
        void operator()(unsigned char* data) const { std::free(data); }
    };

    QBackingStore store_;
    // Where the backing store is no image of the right format: drawn here, then copied.
    std::unique_ptr<unsigned char, FreeDeleter> pixels_;
    QImage frame_;
    int rotation_ = 0; // 0, 90, 180 or 270
};

// How the picture reaches the screen.
enum class RenderPath {
    Undecided,
    OpenGL,   // a native GL window, where a real GPU draws
    Software, // the engine's software renderer, in a native raster window
};

// Whether GL_RENDERER names a software rasteriser.
bool IsSoftwareRasteriser(const QByteArray& renderer);

// GL_RENDERER of the display, read in a child process so that this one never
// loads a GL driver it will not draw with (about 50 MB resident for llvmpipe).
// The name arrives as an event: nothing waits for the child.
class RendererProbe {
public:
    using Done = std::function<void(const QByteArray& renderer)>;

    RendererProbe() = default;
    ~RendererProbe();
    RendererProbe(const RendererProbe&) = delete;
    RendererProbe& operator=(const RendererProbe&) = delete;

    // Once. Calls done once, on this thread: with the name, or empty when none
    // could be read within deadlineMs.
    void Start(Done done, int deadlineMs);

private:
    void Reap();
    void Report();

    pid_t child_ = -1;
    int pipe_ = -1;  // what the child writes
    int ended_ = -1; // the child's process descriptor
    std::unique_ptr<QSocketNotifier> exited_;
    QTimer deadline_;
    Done done_;
    QByteArray result_;
};

// The video surface in the video area: a container for a native window, so that
// the picture goes straight to the screen instead of through the widget
// window's composition (a third of the cost of playing with software OpenGL).
// Where a real GPU draws, the window is a GL one; where OpenGL is a software
// rasteriser, the engine's software renderer draws into a raster window, and
// no GL context is created. The container stacks above the area's other
// children, so the surface is shown only while a picture plays.
class MpvVideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit MpvVideoWidget(QWidget* parent);
    void SetCore(mpv_handle* core) { core_ = core; }
    ~MpvVideoWidget() override;

    // Whether the render context exists, so the engine can show video; only
    // once the render path is chosen.
    bool Ready();
    // Frees the render context (the engine's core must still be alive).
    void FreeRenderContext();
    // For a core that never shut down: freeing would wait for it.
    void AbandonRenderContext();
    // Black and hidden instead of the engine's last picture.
    void SetBlank(bool blank);
    // Runs what the engine asked of the render side. The engine's video output
    // waits for this after reconfiguring, so a caller that blocks the window's
    // thread waiting on the engine must call it while it waits.
    void ServiceEngine();
    // The rotation the picture declares, in clockwise degrees (the engine's
    // video-params/rotate).
    void SetRotation(int degrees);
    RenderPath Path() const { return path_; }

Q_SIGNALS:
    // Soon after it is made: the renderer's name is read in the background.
    void PathChosen();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Choose(const QByteArray& renderer);
    void Contain(MpvSurfaceWindow* window);

    mpv_handle* core_ = nullptr;
    RenderPath path_ = RenderPath::Undecided;
    RendererProbe probe_;
    MpvSurfaceWindow* window_ = nullptr; // owned by the container
    QWidget* container_ = nullptr;
    int rotation_ = 0;
    bool blank_ = true;
};
