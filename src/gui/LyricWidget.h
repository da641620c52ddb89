#pragma once

#include "views/LyricViewModel.h"

#include <QWidget>

namespace cantivo {

class Song;

// The lyric view: draws what the layout model says, pages that follow playback with the bouncing
// ball or the highlight. It lives in the main window or in a window of its own for the singers.
class LyricWidget final : public QWidget {
    Q_OBJECT
  public:
    explicit LyricWidget(QWidget* parent = nullptr);

    void SetOptions(const LyricOptions& options);
    // A new current song (null: none); the lyric track is chosen as the track list would.
    void ShowSong(const Song* song);
    // The song position moved.
    void Follow(int32_t position);
    const LyricViewModel& Model() const { return model_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Relayout();

    LyricViewModel model_;
    const Song* song_ = nullptr;
};

} // namespace cantivo
