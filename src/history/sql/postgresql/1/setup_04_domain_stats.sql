-- Per run and domain, the counts the chart draws, kept up to date with every
-- stored page so the chart never scans the rank rows.
CREATE TABLE rank_domain_stats (
  run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  domain TEXT NOT NULL,
  keywords BIGINT NOT NULL DEFAULT 0,
  top10 BIGINT NOT NULL DEFAULT 0,
  top50 BIGINT NOT NULL DEFAULT 0,
  beyond BIGINT NOT NULL DEFAULT 0,
  PRIMARY KEY (domain, run_id)
);
CREATE INDEX rank_domain_stats_run ON rank_domain_stats (run_id);
