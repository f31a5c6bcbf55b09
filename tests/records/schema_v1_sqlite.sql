-- A record file as the first release (schema version 1) writes it, with one
-- record, its four points and a correction. Each statement ends its line
-- with a semicolon.
CREATE TABLE schema_version (version INTEGER NOT NULL, oldest_reader INTEGER NOT NULL);
INSERT INTO schema_version (version, oldest_reader) VALUES (1, 1);
CREATE TABLE calibration_record ( id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, recorded_at TEXT NOT NULL, utc_offset_s INTEGER NOT NULL, station TEXT NOT NULL, program_version TEXT NOT NULL, operator TEXT NOT NULL, reference_description TEXT NOT NULL, reference_serial TEXT NOT NULL, reference_certificate TEXT NOT NULL, converter_type TEXT NOT NULL, address INTEGER NOT NULL, port INTEGER NOT NULL, tag TEXT, sensor INTEGER NOT NULL CHECK (sensor BETWEEN 1 AND 3), point_count INTEGER NOT NULL, as_left BLOB NOT NULL CHECK (length(as_left) = 32), as_found BLOB NOT NULL CHECK (length(as_found) = 32), as_found_in_force INTEGER NOT NULL CHECK (as_found_in_force IN (0, 1)), max_deviation, residual_sd, restored_from TEXT);
CREATE INDEX calibration_record_listed ON calibration_record (recorded_at, uuid);
CREATE TABLE calibration_point ( record_id INTEGER NOT NULL REFERENCES calibration_record (id), position INTEGER NOT NULL, raw INTEGER NOT NULL, true_temp NOT NULL, fitted, deviation, as_found_deviation, PRIMARY KEY (record_id, position));
CREATE TABLE record_correction ( id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, record_uuid TEXT NOT NULL, field TEXT NOT NULL, value TEXT NOT NULL, author TEXT NOT NULL, corrected_at TEXT NOT NULL, utc_offset_s INTEGER NOT NULL, station TEXT NOT NULL);
CREATE INDEX record_correction_latest ON record_correction (record_uuid, field, corrected_at, uuid);
CREATE TABLE outbox ( seq INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, kind INTEGER NOT NULL, sent_at TEXT);
CREATE INDEX outbox_unsent ON outbox (sent_at, seq);
CREATE TRIGGER calibration_record_kept BEFORE UPDATE ON calibration_record BEGIN SELECT RAISE(ABORT, 'calibration records are never changed'); END;
CREATE TRIGGER calibration_record_not_deleted BEFORE DELETE ON calibration_record BEGIN SELECT RAISE(ABORT, 'calibration records are never deleted'); END;
CREATE TRIGGER calibration_point_kept BEFORE UPDATE ON calibration_point BEGIN SELECT RAISE(ABORT, 'calibration records are never changed'); END;
CREATE TRIGGER calibration_point_not_deleted BEFORE DELETE ON calibration_point BEGIN SELECT RAISE(ABORT, 'calibration records are never deleted'); END;
CREATE TRIGGER record_correction_kept BEFORE UPDATE ON record_correction BEGIN SELECT RAISE(ABORT, 'calibration records are never changed'); END;
CREATE TRIGGER record_correction_not_deleted BEFORE DELETE ON record_correction BEGIN SELECT RAISE(ABORT, 'calibration records are never deleted'); END;
INSERT INTO calibration_record (uuid, recorded_at, utc_offset_s, station, program_version, operator, reference_description, reference_serial, reference_certificate, converter_type, address, port, tag, sensor, point_count, as_left, as_found, as_found_in_force, max_deviation, residual_sd, restored_from) VALUES ('0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b', '2024-03-01T08:15:30.250Z', 3600, 'kalibrace-1', '1.0.0', 'Jana Nováková', 'Pt100', '12345', 'K-2024/117', 'ZORM5816A', 1, 3, 'TT-101', 2, 4, X'000000000000F03F0000000000000000000000000000F0BF0000000000000080', X'0000000000000000000000000000000000000000000000000000000000000000', 0, -0.25, NULL, NULL);
INSERT INTO calibration_point (record_id, position, raw, true_temp, fitted, deviation, as_found_deviation) VALUES ((SELECT id FROM calibration_record WHERE uuid = '0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b'), 1, 10000, -20.5, -20.5, 0.0, NULL);
INSERT INTO calibration_point (record_id, position, raw, true_temp, fitted, deviation, as_found_deviation) VALUES ((SELECT id FROM calibration_record WHERE uuid = '0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b'), 2, 30000, 20.125, 20.125, -0.0, NULL);
INSERT INTO calibration_point (record_id, position, raw, true_temp, fitted, deviation, as_found_deviation) VALUES ((SELECT id FROM calibration_record WHERE uuid = '0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b'), 3, 60000, 80.0, 79.75, -0.25, NULL);
INSERT INTO calibration_point (record_id, position, raw, true_temp, fitted, deviation, as_found_deviation) VALUES ((SELECT id FROM calibration_record WHERE uuid = '0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b'), 4, 90000, 141.5, 141.5, 4.9406564584124654e-324, NULL);
INSERT INTO record_correction (uuid, record_uuid, field, value, author, corrected_at, utc_offset_s, station) VALUES ('9c8b7a6f-5e4d-4c3b-8a29-1f0e0d0c0b0a', '0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b', 'tag', 'TT-102', 'Petr', '2024-03-02T09:00:00.000Z', 3600, 'kalibrace-2');
