-- Per run and domain, the counts the chart draws, kept up to date with every
-- stored page so the chart never scans the rank rows.
CREATE TABLE rank_domain_stats (
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  domain TEXT NOT NULL,
  keywords INTEGER NOT NULL DEFAULT 0,
  top10 INTEGER NOT NULL DEFAULT 0,
  top50 INTEGER NOT NULL DEFAULT 0,
  beyond INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (domain, run_id)
);
CREATE INDEX rank_domain_stats_run ON rank_domain_stats (run_id);
