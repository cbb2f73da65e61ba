-- The default parameter database LibParmt.dat: the choices of the nine output
-- option selectors, the encoder option text behind each choice, and each
-- selector's remembered choice.
--
-- Rules the program relies on:
--   * in every option table cmbex_index runs 0, 1, 2, ... without gap: it is
--     the entry's position in its selector and the key of its fragment;
--   * cmbex_itemindex holds one row per selector number 1 to 9 (the program
--     only updates these rows), each naming a position of its option table;
--   * cmbex_cmd is put into the encoder's command line unchanged; an empty
--     fragment leaves the encoder's default (mostly: as the source).

PRAGMA encoding = 'UTF-8';
BEGIN TRANSACTION;

CREATE TABLE cmbex_itemindex (
  cmbex_tag   INTEGER NOT NULL PRIMARY KEY,
  cmbex_index INTEGER NOT NULL
);

-- 1: video codec
CREATE TABLE cmbex_vdocodec (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_vdocodec VALUES (0, 'H.264 (AVC)',   '-vcodec libx264');
INSERT INTO cmbex_vdocodec VALUES (1, 'H.265 (HEVC)',  '-vcodec libx265');
INSERT INTO cmbex_vdocodec VALUES (2, 'MPEG-4',        '-vcodec mpeg4');
-- The source's picture as it is, put into the MP4 without re-encoding; the encoder
-- ignores size, frame rate, aspect and bit rate for it (and says so).
INSERT INTO cmbex_vdocodec VALUES (3, '原始视频 (不转码)',  '-vcodec copy');

-- 2: video bit rate
CREATE TABLE cmbex_vdobitrate (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_vdobitrate VALUES (0, '默认码率',   '');
INSERT INTO cmbex_vdobitrate VALUES (1, '256 kbps',   '-b:v 256k');
INSERT INTO cmbex_vdobitrate VALUES (2, '512 kbps',   '-b:v 512k');
INSERT INTO cmbex_vdobitrate VALUES (3, '768 kbps',   '-b:v 768k');
INSERT INTO cmbex_vdobitrate VALUES (4, '1000 kbps',  '-b:v 1000k');
INSERT INTO cmbex_vdobitrate VALUES (5, '1500 kbps',  '-b:v 1500k');
INSERT INTO cmbex_vdobitrate VALUES (6, '2000 kbps',  '-b:v 2000k');
INSERT INTO cmbex_vdobitrate VALUES (7, '3000 kbps',  '-b:v 3000k');
INSERT INTO cmbex_vdobitrate VALUES (8, '4000 kbps',  '-b:v 4000k');

-- 3: picture size
CREATE TABLE cmbex_vdosize (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_vdosize VALUES (0, '原始大小',           '');
INSERT INTO cmbex_vdosize VALUES (1, '320x240',            '-s 320x240');
INSERT INTO cmbex_vdosize VALUES (2, '640x480',            '-s 640x480');
INSERT INTO cmbex_vdosize VALUES (3, '720x480',            '-s 720x480');
INSERT INTO cmbex_vdosize VALUES (4, '720x576',            '-s 720x576');
INSERT INTO cmbex_vdosize VALUES (5, '1280x720 (720p)',    '-s 1280x720');
INSERT INTO cmbex_vdosize VALUES (6, '1920x1080 (1080p)',  '-s 1920x1080');

-- 4: frame rate
CREATE TABLE cmbex_vdofps (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_vdofps VALUES (0, '原始帧率',       '');
INSERT INTO cmbex_vdofps VALUES (1, '15 帧/秒',       '-r 15');
INSERT INTO cmbex_vdofps VALUES (2, '23.976 帧/秒',   '-r 24000/1001');
INSERT INTO cmbex_vdofps VALUES (3, '25 帧/秒',       '-r 25');
INSERT INTO cmbex_vdofps VALUES (4, '29.97 帧/秒',    '-r 30000/1001');
INSERT INTO cmbex_vdofps VALUES (5, '30 帧/秒',       '-r 30');
INSERT INTO cmbex_vdofps VALUES (6, '50 帧/秒',       '-r 50');
INSERT INTO cmbex_vdofps VALUES (7, '60 帧/秒',       '-r 60');

-- 5: display aspect ratio
CREATE TABLE cmbex_vdoaspect (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_vdoaspect VALUES (0, '原始比例',  '');
INSERT INTO cmbex_vdoaspect VALUES (1, '4:3',       '-aspect 4:3');
INSERT INTO cmbex_vdoaspect VALUES (2, '16:9',      '-aspect 16:9');

-- 6: audio codec
CREATE TABLE cmbex_adocodec (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_adocodec VALUES (0, 'AAC',  '-acodec aac');
INSERT INTO cmbex_adocodec VALUES (1, 'MP3',  '-acodec libmp3lame');
-- The source's sound as it is; bit rate, channels and sampling rate are ignored for it.
INSERT INTO cmbex_adocodec VALUES (2, '原始音频 (不转码)',  '-acodec copy');

-- 7: audio bit rate
CREATE TABLE cmbex_adobitrate (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_adobitrate VALUES (0, '64 kbps',   '-b:a 64k');
INSERT INTO cmbex_adobitrate VALUES (1, '96 kbps',   '-b:a 96k');
INSERT INTO cmbex_adobitrate VALUES (2, '128 kbps',  '-b:a 128k');
INSERT INTO cmbex_adobitrate VALUES (3, '160 kbps',  '-b:a 160k');
INSERT INTO cmbex_adobitrate VALUES (4, '192 kbps',  '-b:a 192k');
INSERT INTO cmbex_adobitrate VALUES (5, '256 kbps',  '-b:a 256k');
INSERT INTO cmbex_adobitrate VALUES (6, '320 kbps',  '-b:a 320k');
-- No bit rate of its own: the encoder's 128 kbps, or the source's for a copied sound.
INSERT INTO cmbex_adobitrate VALUES (7, '默认码率',  '');

-- 8: audio channels
CREATE TABLE cmbex_adochannels (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_adochannels VALUES (0, '原始声道',  '');
INSERT INTO cmbex_adochannels VALUES (1, '单声道',    '-ac 1');
INSERT INTO cmbex_adochannels VALUES (2, '立体声',    '-ac 2');

-- 9: sampling frequency
CREATE TABLE cmbex_adofreq (
  cmbex_index INTEGER NOT NULL PRIMARY KEY,
  cmbex_name  TEXT NOT NULL,
  cmbex_cmd   TEXT NOT NULL DEFAULT ''
);
INSERT INTO cmbex_adofreq VALUES (0, '原始采样率',  '');
INSERT INTO cmbex_adofreq VALUES (1, '22050 Hz',    '-ar 22050');
INSERT INTO cmbex_adofreq VALUES (2, '32000 Hz',    '-ar 32000');
INSERT INTO cmbex_adofreq VALUES (3, '44100 Hz',    '-ar 44100');
INSERT INTO cmbex_adofreq VALUES (4, '48000 Hz',    '-ar 48000');

-- Starting choices: H.264, default bit rate, source size, frame rate and
-- aspect, AAC at 128 kbps, source channels and sampling rate.
INSERT INTO cmbex_itemindex VALUES (1, 0);
INSERT INTO cmbex_itemindex VALUES (2, 0);
INSERT INTO cmbex_itemindex VALUES (3, 0);
INSERT INTO cmbex_itemindex VALUES (4, 0);
INSERT INTO cmbex_itemindex VALUES (5, 0);
INSERT INTO cmbex_itemindex VALUES (6, 0);
INSERT INTO cmbex_itemindex VALUES (7, 2);
INSERT INTO cmbex_itemindex VALUES (8, 0);
INSERT INTO cmbex_itemindex VALUES (9, 0);

COMMIT;
