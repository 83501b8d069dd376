-- A supervisor's report from the tables the collector fills in acd_db:
-- calls per group, then the agents' time and occupancy.
--
--   mariadb --table acd_db < docs/reports.sql
--
-- Every time in acd_db is the ACD server's clock (seconds since 1970), and so
-- are the limits below. To change one, set it on the same connection before
-- the file runs, for instance for one morning of one ACD server:
--
--   mariadb --table acd_db \
--     --init-command="SET @server = '10.0.0.5',
--                         @from = UNIX_TIMESTAMP('2024-06-03 08:00'),
--                         @until = UNIX_TIMESTAMP('2024-06-03 12:00')" < docs/reports.sql
--
--   @server            one ACD server, as configured (default: every server,
--                      a row each)
--   @from, @until      the period: calls that came in from @from until before
--                      @until, and the part of each status interval within it
--                      (default: everything)
--   @service_seconds   a call answered within this many seconds counts for
--                      the service level (default 20)
--   @logged_out, @available, @busy, @wrap_up
--                      the ACD server's status codes (default 0, 1, 2, 3);
--                      any other status (a break, ...) counts as logged on
--                      but not taking calls
--
-- The file only reads; it runs on MariaDB 10.2 or MySQL 8.0 and later.

SET @server = COALESCE(@server, '');
SET @from = CAST(COALESCE(@from, 0) AS UNSIGNED);
SET @until = CAST(COALESCE(@until, 4294967296) AS UNSIGNED);
SET @service_seconds = COALESCE(@service_seconds, 20);
SET @logged_out = COALESCE(@logged_out, 0);
SET @available = COALESCE(@available, 1);
SET @busy = COALESCE(@busy, 2);
SET @wrap_up = COALESCE(@wrap_up, 3);

-- Calls per group. Each CDR is one call offered, counted in the period it
-- came in. A call that an agent took was answered; one that ended without
-- an agent was abandoned in the queue.
--   service level  calls answered within @service_seconds of coming in, as a
--                  share of all calls offered
--   avg wait       the wait of the answered calls
--   avg handle     talk (the CDR's call duration, from answer to end) plus
--                  the wrap-up after it: the agent's wrap-up interval in the
--                  call's group that began as the call ended (within a few
--                  seconds); a wrap-up not finished yet is left out
-- The ends of the period's answered calls bound the wrap-ups looked for, so
-- that they are read through the index on (Serv_Name, TimeStart), and all
-- at once: MariaDB would otherwise read them call by call (a lateral
-- derived table), the same intervals over again.
SELECT CAST(COALESCE(MIN(Timestamp + Queue_Dur + Call_Dur), 0) AS SIGNED),
       CAST(COALESCE(MAX(Timestamp + Queue_Dur + Call_Dur), 0) AS SIGNED)
  INTO @first_end, @last_end
  FROM stock_cdr
  WHERE COALESCE(Agent_Name, '') <> '' AND Timestamp >= @from AND Timestamp < @until
    AND (@server = '' OR Serv_Name = @server);
SET @ignored = 0 /*M!100300 , SESSION optimizer_switch = 'split_materialized=off',
                   SESSION join_cache_level = 4 */;

WITH calls AS (
  SELECT ID, Serv_Name, Group_Name, Agent_Name, Queue_Dur, Call_Dur,
         COALESCE(Agent_Name, '') <> '' AS answered,
         Timestamp + Queue_Dur + Call_Dur AS ended
  FROM stock_cdr
  WHERE Timestamp >= @from AND Timestamp < @until
    AND (@server = '' OR Serv_Name = @server)
),
wrap_ups AS (
  SELECT calls.ID, MIN(s.TimeEnd - s.TimeStart) AS seconds
  FROM calls
  JOIN stock_status s
    ON s.Serv_Name = calls.Serv_Name AND s.Group_Name = calls.Group_Name
   AND s.Agent_Name = calls.Agent_Name AND s.Status = @wrap_up
   AND s.TimeStart BETWEEN calls.ended - 2 AND calls.ended + 5
   AND s.TimeStart BETWEEN @first_end - 2 AND @last_end + 5
  WHERE calls.answered
  GROUP BY calls.ID
)
SELECT calls.Serv_Name AS server,
       calls.Group_Name AS `group`,
       COUNT(*) AS offered,
       SUM(calls.answered) AS answered,
       SUM(NOT calls.answered) AS abandoned,
       CONCAT(ROUND(100 * SUM(calls.answered AND calls.Queue_Dur <= @service_seconds) / COUNT(*)),
              ' %') AS `service level`,
       ROUND(AVG(IF(calls.answered, calls.Queue_Dur, NULL))) AS `avg wait s`,
       ROUND(AVG(IF(calls.answered, calls.Call_Dur, NULL)) + COALESCE(AVG(wrap_ups.seconds), 0))
         AS `avg handle s`
FROM calls
LEFT JOIN wrap_ups ON wrap_ups.ID = calls.ID
GROUP BY calls.Serv_Name, calls.Group_Name
ORDER BY calls.Serv_Name, calls.Group_Name;

-- Agents. The ACD server reports an agent's status in each of the agent's
-- groups; the report reads the status intervals of the group in which the
-- agent was logged on longest (the groups tell the same story).
--   answered   calls the agent took that came in in the period
--   logged on  time in any status but logged out
--   occupancy  time on calls and in wrap-up, as a share of the time
--              available, on calls or in wrap-up (breaks left out)
-- Only finished intervals count: the current status of each agent is still
-- open, and a status interval that starts at 0 (an agent the collector did
-- not know yet) is left out.
WITH intervals AS (
  SELECT Serv_Name, Group_Name, Agent_Name, Status,
         LEAST(TimeEnd, @until) - GREATEST(TimeStart, @from) AS seconds
  FROM stock_status
  WHERE TimeStart > 0 AND TimeEnd > TimeStart AND TimeStart < @until AND TimeEnd > @from
    AND (@server = '' OR Serv_Name = @server)
),
memberships AS (
  SELECT Serv_Name, Agent_Name,
         SUM(IF(Status <> @logged_out, seconds, 0)) AS logged_on,
         SUM(IF(Status = @available, seconds, 0)) AS available,
         SUM(IF(Status IN (@busy, @wrap_up), seconds, 0)) AS handling,
         ROW_NUMBER() OVER (PARTITION BY Serv_Name, Agent_Name
                            ORDER BY SUM(IF(Status <> @logged_out, seconds, 0)) DESC,
                                     Group_Name) AS longest
  FROM intervals
  GROUP BY Serv_Name, Agent_Name, Group_Name
),
taken AS (
  SELECT Serv_Name, Agent_Name, COUNT(*) AS calls
  FROM stock_cdr
  WHERE COALESCE(Agent_Name, '') <> '' AND Timestamp >= @from AND Timestamp < @until
    AND (@server = '' OR Serv_Name = @server)
  GROUP BY Serv_Name, Agent_Name
)
SELECT m.Serv_Name AS server,
       m.Agent_Name AS agent,
       a.Agent_FullName AS name,
       COALESCE(taken.calls, 0) AS answered,
       SEC_TO_TIME(m.logged_on) AS `logged on`,
       CONCAT(ROUND(100 * m.handling / NULLIF(m.available + m.handling, 0)), ' %') AS occupancy
FROM memberships m
LEFT JOIN stock_agents a ON a.Serv_Name = m.Serv_Name AND a.Agent_Name = m.Agent_Name
LEFT JOIN taken ON taken.Serv_Name = m.Serv_Name AND taken.Agent_Name = m.Agent_Name
WHERE m.longest = 1
ORDER BY m.Serv_Name, m.Agent_Name;
