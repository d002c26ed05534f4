-- One row per schema version this database went through; the highest is current.
CREATE TABLE schema_version (
  version INTEGER PRIMARY KEY,
  applied TEXT NOT NULL
);
