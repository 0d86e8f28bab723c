// SPDX-License-Identifier: GPL-3.0-or-later

#include "media/MediaPlayer.h"
#include "common/Exceptions.h"
#include "platform/SimulatedMediaService.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

class MediaPlayerLayer : public ::testing::Test {
protected:
    MediaPlayerLayer() {
        auto service = std::make_unique<SimulatedMediaService>();
        media = service.get();
        media->AddFile("/v/clip.mpg", {1000, 320, 240, {}});
        media->AddFile("/v/other.mpg", {2000, 352, 288, {}});
        media->AddFile("/v/sound.mpg", {1500, 0, 0, {}});
        media->AddFile("/v/broken.mpg",
                       {0, 0, 0, QStringLiteral("Failed to recognize file format.")});
        player = std::make_unique<TMediaPlayer>(QStringLiteral("MediaPlayer1"), nullptr,
                                                std::move(service));
        player->SetDisplay(&window);
    }

    void OpenFile(const QByteArray& path) {
        player->FileName = path;
        player->Open({});
        media->ClearCommands();
    }

    QWidget window;
    SimulatedMediaService* media;
    std::unique_ptr<TMediaPlayer> player;
};

} // namespace

TEST_F(MediaPlayerLayer, PlayAtTheEndWithNoStartPendingPlaysFromTheBeginning) {
    OpenFile("/v/clip.mpg");
    player->Play();
    media->Advance(1000);
    EXPECT_EQ(player->Mode(), mpStopped);
    EXPECT_EQ(player->Position(), player->Length());
    media->ClearCommands();
    player->Play();
    EXPECT_EQ(media->Commands(), (QStringList{"seek to start", "play"}));
    EXPECT_EQ(player->Mode(), mpPlaying);
    EXPECT_EQ(player->Position(), 0);
}

TEST_F(MediaPlayerLayer, APendingStartIsUsedByOnePlayOnlyAlsoAtTheEnd) {
    OpenFile("/v/clip.mpg");
    player->Play();
    media->Advance(1000);
    player->SetStartPosition(400);
    player->Play();
    EXPECT_EQ(player->Position(), 400);
    player->Pause();
    player->Play();
    EXPECT_EQ(media->Commands(), (QStringList{"play", "play from 400", "pause", "play"}));
    // The very end as a start point is played, not rewound.
    player->SetStartPosition(1000);
    player->Play();
    EXPECT_EQ(media->Commands().last(), QStringLiteral("play from 1000"));
    EXPECT_EQ(player->Mode(), mpStopped);
}

TEST_F(MediaPlayerLayer, PauseTogglesAndDoesNothingWhileStopped) {
    OpenFile("/v/clip.mpg");
    player->Pause();
    EXPECT_TRUE(media->Commands().isEmpty());
    player->Play();
    player->Pause();
    EXPECT_EQ(player->Mode(), mpPaused);
    player->Pause();
    EXPECT_EQ(player->Mode(), mpPlaying);
    EXPECT_EQ(media->Commands(), (QStringList{"play", "pause", "resume"}));
}

TEST_F(MediaPlayerLayer, OpeningWhileOpenClosesFirstAndCloseWithNothingOpenDoesNothing) {
    player->Close();
    EXPECT_TRUE(media->Commands().isEmpty());
    OpenFile("/v/clip.mpg");
    const MediaDeviceId first = player->DeviceID();
    EXPECT_NE(first, 0);
    player->FileName = "/v/other.mpg";
    player->Open({});
    EXPECT_EQ(media->Commands().mid(0, 2), (QStringList{"close", "open /v/other.mpg"}));
    EXPECT_NE(player->DeviceID(), 0);
    EXPECT_NE(player->DeviceID(), first);
    player->Close();
    EXPECT_EQ(player->DeviceID(), 0);
    EXPECT_FALSE(media->IsOpen());
}

TEST_F(MediaPlayerLayer, AFailedOpenRaisesTheServicesTextAndLeavesNoDevice) {
    player->FileName = "/v/broken.mpg";
    player->Open({});
    try {
        player->RaiseOpenError();
        FAIL() << "opened a broken file";
    } catch (const EMCIDeviceError& error) {
        EXPECT_EQ(error.Message, QStringLiteral("Failed to recognize file format."));
    }
    EXPECT_EQ(player->DeviceID(), 0);
    // A code the service has no text for.
    OpenFile("/v/clip.mpg");
    player->SetTimeFormat(3);
    EXPECT_NE(player->Error(), 0u);
    EXPECT_EQ(player->ErrorMessage(), QStringLiteral("原因不明のエラー"));
}

TEST_F(MediaPlayerLayer, OperationsThatNeedADeviceRaiseWithoutOne) {
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { player->Play(); }, [&] { player->Stop(); }, [&] { player->Pause(); },
             [&] {
                 player->Length();
             }}) {
        try {
            operation();
            ADD_FAILURE() << "no error without a device";
        } catch (const EMCIDeviceError& error) {
            EXPECT_EQ(error.Message, QStringLiteral("MCI デバイスがありません"));
        }
    }
    EXPECT_TRUE(media->Commands().isEmpty());
}

TEST_F(MediaPlayerLayer, APictureIsAttachedAndSizedAndNoPictureMeansNoAttachment) {
    player->FileName = "/v/clip.mpg";
    player->Open({});
    EXPECT_EQ(media->DisplayWindow(), &window);
    MediaRect rect{1, 2, 3, 4};
    player->GetDisplayRect(rect);
    EXPECT_EQ(rect, (MediaRect{0, 0, 320, 240}));
    player->SetDisplayRect({0, 0, 400, 300});
    EXPECT_EQ(media->Destination(), (MediaRect{0, 0, 400, 300}));
    player->SetDisplayRect({0, 0, 0, 0});
    EXPECT_EQ(media->Destination(), (MediaRect{0, 0, 320, 240}));

    player->FileName = "/v/sound.mpg";
    player->Open({});
    EXPECT_EQ(media->DisplayWindow(), nullptr);
    MediaRect untouched{1, 2, 3, 4};
    player->GetDisplayRect(untouched);
    EXPECT_EQ(untouched, (MediaRect{1, 2, 3, 4}));
    media->ClearCommands();
    player->SetDisplayRect({0, 0, 400, 300});
    EXPECT_TRUE(media->Commands().isEmpty());
}

TEST_F(MediaPlayerLayer, TheDisplayWindowIsPreparedAndForgottenWhenItGoes) {
    EXPECT_EQ(media->PreparedWindow(), &window);
    auto doomed = std::make_unique<QWidget>();
    player->SetDisplay(doomed.get());
    OpenFile("/v/clip.mpg");
    doomed.reset();
    EXPECT_EQ(player->Display(), nullptr);
    EXPECT_EQ(media->Commands(), QStringList{"window none"});
}

TEST_F(MediaPlayerLayer, TheEndOfPlaybackArrivesAfterTheCommand) {
    QSignalSpy ended(player.get(), &TMediaPlayer::Ended);
    OpenFile("/v/clip.mpg");
    player->Play();
    media->Advance(1000);
    EXPECT_EQ(ended.count(), 0); // posted, as a window message would be
    QCoreApplication::processEvents();
    EXPECT_EQ(ended.count(), 1);
    // A play that is stopped has not ended.
    player->Play();
    player->Stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(ended.count(), 1);
}
