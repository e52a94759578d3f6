-- The tables of a catalogue as the import tool meets them: the records (MOVIES) with their key
-- "mid" and catalogue number "num", the pictures and thumbnails, the one-row settings table,
-- and the generator of picture ids. The demo, the tests and the pass benchmark read this file
-- after creating the database (dialect 3, default character set UNICODE_FSS).
CREATE TABLE MOVIES ("mid" INTEGER NOT NULL CONSTRAINT MOVIES_KEY PRIMARY KEY, "num" INTEGER NOT NULL,
    "title" VARCHAR(80));
CREATE TABLE images ("pixref" INTEGER NOT NULL PRIMARY KEY, "mid" INTEGER NOT NULL,
    "imgtype" SMALLINT NOT NULL, "imgformat" VARCHAR(10), "imgpath" VARCHAR(250));
CREATE TABLE thumbnails ("pixref" INTEGER NOT NULL PRIMARY KEY, "imgformat" VARCHAR(10),
    "imgpath" VARCHAR(250));
CREATE TABLE options ("oid" INTEGER NOT NULL PRIMARY KEY, "doimgfolders" SMALLINT,
    "posterfolder_rel" VARCHAR(250), "posterfolder_full" VARCHAR(250),
    "screensfolder_rel" VARCHAR(250), "screensfolder_full" VARCHAR(250),
    "coversfolder_rel" VARCHAR(250), "coversfolder_full" VARCHAR(250),
    "thumbsfolder_rel" VARCHAR(250), "thumbsfolder_full" VARCHAR(250));
CREATE GENERATOR gen_pixref;
INSERT INTO options ("oid", "doimgfolders") VALUES (1, 1);
