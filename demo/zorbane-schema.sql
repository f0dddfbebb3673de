-- Tables of a Zorbane schema store: class families, their classes, ordered superclasses,
-- class-level ('C') and instance-level ('I') properties and methods with their type codes,
-- method parameters and stored queries. The control opens the file read-only.
PRAGMA foreign_keys = ON;

CREATE TABLE zstore_info (
  key   TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
INSERT INTO zstore_info (key, value) VALUES ('format', 'zorbane-schema-store'), ('version', '1');

CREATE TABLE zfamily (
  family_id INTEGER PRIMARY KEY,
  name      TEXT NOT NULL,
  position  INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE zclass (
  class_id  INTEGER PRIMARY KEY,
  family_id INTEGER NOT NULL REFERENCES zfamily (family_id),
  name      TEXT NOT NULL,
  position  INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX zclass_family ON zclass (family_id, position);

CREATE TABLE zsuperclass (
  class_id INTEGER NOT NULL REFERENCES zclass (class_id),
  super_id INTEGER NOT NULL REFERENCES zclass (class_id),
  position INTEGER NOT NULL,
  PRIMARY KEY (class_id, position)
);

CREATE TABLE zproperty (
  property_id   INTEGER PRIMARY KEY,
  class_id      INTEGER NOT NULL REFERENCES zclass (class_id),
  name          TEXT NOT NULL,
  position      INTEGER NOT NULL DEFAULT 0,
  level         TEXT NOT NULL CHECK (level IN ('C', 'I')),
  type_code     INTEGER NOT NULL,
  is_set        INTEGER NOT NULL DEFAULT 0,
  is_mandatory  INTEGER NOT NULL DEFAULT 0,
  is_unique     INTEGER NOT NULL DEFAULT 0,
  description   TEXT NOT NULL DEFAULT '',
  precision     INTEGER NOT NULL DEFAULT 0,
  scale         INTEGER NOT NULL DEFAULT 0,
  default_value TEXT NOT NULL DEFAULT ''
);
CREATE INDEX zproperty_class ON zproperty (class_id, position);

CREATE TABLE zmethod (
  method_id   INTEGER PRIMARY KEY,
  class_id    INTEGER NOT NULL REFERENCES zclass (class_id),
  name        TEXT NOT NULL,
  position    INTEGER NOT NULL DEFAULT 0,
  level       TEXT NOT NULL CHECK (level IN ('C', 'I')),
  type_code   INTEGER NOT NULL,
  is_set      INTEGER NOT NULL DEFAULT 0,
  description TEXT NOT NULL DEFAULT '',
  precision   INTEGER NOT NULL DEFAULT 0,
  scale       INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX zmethod_class ON zmethod (class_id, position);

CREATE TABLE zparameter (
  parameter_id  INTEGER PRIMARY KEY,
  method_id     INTEGER NOT NULL REFERENCES zmethod (method_id),
  name          TEXT NOT NULL,
  position      INTEGER NOT NULL,
  type_code     INTEGER NOT NULL,
  precision     INTEGER NOT NULL DEFAULT 0,
  scale         INTEGER NOT NULL DEFAULT 0,
  is_set        INTEGER NOT NULL DEFAULT 0,
  default_value TEXT NOT NULL DEFAULT ''
);
CREATE INDEX zparameter_method ON zparameter (method_id, position);

CREATE TABLE zquery (
  query_id   INTEGER PRIMARY KEY,
  name       TEXT NOT NULL,
  query_text TEXT NOT NULL
);
