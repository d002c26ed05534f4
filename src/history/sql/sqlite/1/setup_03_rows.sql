-- Rank rows: the eight cells as the list shows them, and the position as a
-- number for comparing and charting (NULL when the cell holds none).
CREATE TABLE rank_rows (
  id INTEGER PRIMARY KEY,
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  page_id INTEGER NOT NULL REFERENCES pages (id) ON DELETE CASCADE,
  serial TEXT NOT NULL,
  domain TEXT NOT NULL,
  keyword TEXT NOT NULL,
  rank_text TEXT NOT NULL,
  volume TEXT NOT NULL,
  indexed_pages TEXT NOT NULL,
  title TEXT NOT NULL,
  link TEXT NOT NULL,
  position INTEGER
);
CREATE INDEX rank_rows_run_domain ON rank_rows (run_id, domain);
CREATE INDEX rank_rows_page ON rank_rows (page_id);

-- Mining rows: the line as written, and its cells by column; a metric that was
-- not ticked for the run is NULL.
CREATE TABLE mining_rows (
  id INTEGER PRIMARY KEY,
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  page_id INTEGER NOT NULL REFERENCES pages (id) ON DELETE CASCADE,
  line TEXT NOT NULL,
  keyword TEXT NOT NULL,
  volume TEXT,
  indexed_pages TEXT,
  first_site TEXT,
  second_site TEXT,
  difficulty TEXT
);
CREATE INDEX mining_rows_run ON mining_rows (run_id);
CREATE INDEX mining_rows_page ON mining_rows (page_id);
