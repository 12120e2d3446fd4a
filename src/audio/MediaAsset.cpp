#include "MediaAsset.h"

#include "MediaModule.h"

#include <QFile>

MediaAsset::MediaAsset(const QString& path)
    : m_path(path)
{
    const MediaModule& media = MediaModule::instance();
    EqMediaFailure failure {};
    int hasAudioTrack = 0;
    if (media.probe(QFile::encodeName(path).constData(), &hasAudioTrack, &m_durationSeconds, &failure) != 0)
        MediaModule::raise(failure);
    m_hasAudioTrack = hasAudioTrack != 0;
}
